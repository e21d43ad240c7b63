ZORVANTIK-DSP-SET 1
; cluster memory test of P2, P5: each tests its own chips
; and hands its reports to P1, which sends them to the host in turn
[P1]
firmware = clastrelay
members = 0x12

[P2]
firmware = clast
members = 0x12

[P5]
firmware = clast
members = 0x12
