ZORVANTIK-DSP-SET 1
; P5 tests its four dynamic-memory chips: running 0, running 1, random
[P5]
firmware = sdram
