local N = 1000000
local function run()
  local flags = {}
  for i = 2, N do flags[i] = true end
  local i = 2
  while i * i <= N do
    if flags[i] then
      local j = i * i
      while j <= N do
        flags[j] = false
        j = j + i
      end
    end
    i = i + 1
  end
  local count = 0
  for i = 2, N do if flags[i] then count = count + 1 end end
  return count
end
print(run())
