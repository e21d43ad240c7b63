ZORVANTIK-DSP-SET 1
; link test P3 link 3 <---> P5 link 0: P3 sends 100 test words,
; P5 checks them and hands its status words to P1, which tells the host
[P1]
firmware = linkrelay

[P3]
firmware = linksend
port = 3
words = 100

[P5]
firmware = linkcheck
port = 0
words = 100
