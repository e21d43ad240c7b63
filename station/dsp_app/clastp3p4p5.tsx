ZORVANTIK-DSP-SET 1
; cluster memory test of P3, P4, P5: each tests its own chips
; and hands its reports to P1, which sends them to the host in turn
[P1]
firmware = clastrelay
members = 0x1C

[P3]
firmware = clast
members = 0x1C

[P4]
firmware = clast
members = 0x1C

[P5]
firmware = clast
members = 0x1C
