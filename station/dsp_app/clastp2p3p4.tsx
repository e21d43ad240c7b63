ZORVANTIK-DSP-SET 1
; cluster memory test of P2, P3, P4: each tests its own chips
; and hands its reports to P1, which sends them to the host in turn
[P1]
firmware = clastrelay
members = 0x0E

[P2]
firmware = clast
members = 0x0E

[P3]
firmware = clast
members = 0x0E

[P4]
firmware = clast
members = 0x0E
