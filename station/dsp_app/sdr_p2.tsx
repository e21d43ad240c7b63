ZORVANTIK-DSP-SET 1
; P2 tests its four dynamic-memory chips: running 0, running 1, random
[P2]
firmware = sdram
