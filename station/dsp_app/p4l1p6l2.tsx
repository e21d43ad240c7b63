ZORVANTIK-DSP-SET 1
; link test P4 link 1 <---> P6 link 2: P4 sends 100 test words,
; P6 checks them and hands its status words to P1, which tells the host
[P1]
firmware = linkrelay

[P4]
firmware = linksend
port = 1
words = 100

[P6]
firmware = linkcheck
port = 2
words = 100
