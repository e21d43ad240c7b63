ZORVANTIK-DSP-SET 1
; front-panel link test, P6 link 1 <---> P7 link 1 through the operator's cable:
; P6 sends 1000 test words, P7 checks them and hands its status words to P1,
; which tells the host
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
