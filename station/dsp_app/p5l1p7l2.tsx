ZORVANTIK-DSP-SET 1
; link test P5 link 1 <---> P7 link 2: P5 sends 100 test words,
; P7 checks them and hands its status words to P1, which tells the host
[P1]
firmware = linkrelay

[P5]
firmware = linksend
port = 1
words = 100

[P7]
firmware = linkcheck
port = 2
words = 100
