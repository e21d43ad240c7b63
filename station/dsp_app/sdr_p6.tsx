ZORVANTIK-DSP-SET 1
; P6 tests its four dynamic-memory chips: running 0, running 1, random
[P6]
firmware = sdram
