local function run()
  local parts = {}
  for i = 1, 100000 do parts[#parts + 1] = tostring(i % 10) end
  local s = table.concat(parts)
  return #s
end
print(run())
