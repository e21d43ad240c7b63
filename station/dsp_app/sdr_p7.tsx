ZORVANTIK-DSP-SET 1
; P7 tests its four dynamic-memory chips: running 0, running 1, random
[P7]
firmware = sdram
