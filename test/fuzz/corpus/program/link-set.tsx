ZORVANTIK-DSP-SET 1
[P2]
firmware = linksend
port = 3
words = 0x100
[p4]
firmware = linkcheck
port = 0
[P6]
firmware = linkrelay
