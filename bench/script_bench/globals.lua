s = 0
k = 3
x = 0.0
i = 1
while i <= 10000000 do
  s = s + i % 7 * k
  x = x + 0.5
  i = i + 1
end
print(s .. " " .. math.floor(x + 0.5))
