ZORVANTIK-DSP-SET 1
; link test P1 link 1 <---> P2 link 0: P2 sends 100 test words,
; P1 checks them and tells the host how each check went
; (on a board without P2, P6 takes P2's part and P1 link 1 leads to it)
[P1]
firmware = linkcheck
port = 1
words = 100

[P2]
firmware = linksend
port = 0
words = 100
