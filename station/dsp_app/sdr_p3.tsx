ZORVANTIK-DSP-SET 1
; P3 tests its four dynamic-memory chips: running 0, running 1, random
[P3]
firmware = sdram
