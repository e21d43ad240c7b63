ZORVANTIK-DSP-SET 1
; P4 tests its four dynamic-memory chips: running 0, running 1, random
[P4]
firmware = sdram
