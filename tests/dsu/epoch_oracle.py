#!/usr/bin/python3
"""The epoch filter's difference equation, evaluated by scipy for the tests.

  epoch_oracle.py < samples     whitespace-separated sample values; prints,
                                one line per sample, scipy.signal.lfilter's
                                output (double precision)

The equation: inputs scaled by 1/38.44098, numerator 1 0 -3 0 3 0 -1 (x[n]
- 3x[n-2] + 3x[n-4] - x[n-6]), denominator 1 -4.5545184355 8.6704834651
-8.905345974 5.2437753252 -1.6807888085 0.2263948293, state zero at the
first sample.
"""
import sys

import numpy as np
from scipy import signal

B = [1, 0, -3, 0, 3, 0, -1]
A = [1, -4.5545184355, 8.6704834651, -8.905345974, 5.2437753252, -1.6807888085, 0.2263948293]
GAIN = 38.44098

x = np.array(sys.stdin.read().split(), dtype=np.float64)
for y in signal.lfilter(B, A, x / GAIN):
    print(repr(float(y)))
