ZORVANTIK-DSP-SET 1
; link test P2 link 3 <---> P4 link 0: P2 sends 100 test words,
; P4 checks them and hands its status words to P1, which tells the host
[P1]
firmware = linkrelay

[P2]
firmware = linksend
port = 3
words = 100

[P4]
firmware = linkcheck
port = 0
words = 100
