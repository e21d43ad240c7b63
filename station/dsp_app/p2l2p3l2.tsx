ZORVANTIK-DSP-SET 1
; link test P2 link 2 <---> P3 link 2: P2 sends 100 test words,
; P3 checks them and hands its status words to P1, which tells the host
[P1]
firmware = linkrelay

[P2]
firmware = linksend
port = 2
words = 100

[P3]
firmware = linkcheck
port = 2
words = 100
