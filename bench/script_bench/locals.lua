local function run()
  local s, k, x, i = 0, 3, 0.0, 1
  while i <= 10000000 do
    s = s + i % 7 * k
    x = x + 0.5
    i = i + 1
  end
  return s .. " " .. math.floor(x + 0.5)
end
print(run())
