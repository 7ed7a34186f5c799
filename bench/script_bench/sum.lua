local function run()
  local s = 0
  for i = 1, 10000000 do s = s + i end
  return s
end
print(run())
