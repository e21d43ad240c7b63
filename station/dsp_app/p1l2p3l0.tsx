ZORVANTIK-DSP-SET 1
; link test P1 link 2 <---> P3 link 0: P3 sends 100 test words,
; P1 checks them and tells the host how each check went
; (on a board without P3, P7 takes P3's part and P1 link 2 leads to it)
[P1]
firmware = linkcheck
port = 2
words = 100

[P3]
firmware = linksend
port = 0
words = 100
