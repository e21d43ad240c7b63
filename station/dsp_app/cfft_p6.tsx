ZORVANTIK-DSP-SET 1
; 1024-point complex FFT of the ramp 0..1023, timed, results on the node it runs on
[P6]
firmware = cfft
