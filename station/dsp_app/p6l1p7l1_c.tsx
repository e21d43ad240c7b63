ZORVANTIK-DSP-SET 1
; front-panel link test for a board with P1, P6 and P7 but neither P2 nor P3:
; P6 sends 1000 test words over the cable, P7 checks them and hands its
; status words to P1, which tells the host
[P1]
firmware = linkrelay

[P6]
firmware = linksend
port = 1
words = 1000

[P7]
firmware = linkcheck
port = 1
words = 1000
