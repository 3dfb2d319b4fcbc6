#!/usr/bin/python3
"""Reference values from scipy and numpy for the signal-processing tests.

  oracle.py design            cases on stdin, one a line:
                                ftype btype order alpha1 alpha2 prewarp ripple
                              (ftype Bu|Ch|Be, btype Lp|Hp|Bp|Bs, frequencies as
                              fractions of the sample rate, prewarp 0|1, ripple in
                              dB, negative); prints per case "M fb_0 .. fb_M-1
                              g_dc g_centre g_nyquist" where fb_i = -a_(M-i) of
                              the monic denominator and the gains are
                              |prod(x - zero)| / |prod(x - pole)| at x = 1,
                              exp(i pi (alpha1 + alpha2)) and -1
  oracle.py fft DIR           writes DIR/fft_N.bin for N = 2 .. 32768: float64
                              input re, input im, numpy.fft.fft re, im
  oracle.py coherence FILE pps start...
                              FILE: int32 channel 1 then channel 2, equal
                              lengths; prints, one line per start, the bins of
                              scipy.signal.coherence of the 16 half-overlapping
                              segments from that start (symmetric Hann window,
                              linear detrending, FFT length the next power of
                              two >= pps)
"""
import sys

import numpy as np
from scipy import signal

PROTOTYPES = {"Bu": "butter", "Ch": "cheby1", "Be": "bessel_mag"}
BANDS = {"Lp": "lowpass", "Hp": "highpass", "Bp": "bandpass", "Bs": "bandstop"}


def zpk_of(ftype, btype, order, a1, a2, prewarp, ripple):
    if prewarp:
        # scipy's own design route; frequencies as fractions of Nyquist
        wn = 2 * a1 if btype in ("Lp", "Hp") else [2 * a1, 2 * a2]
        kwargs = {"rp": -ripple} if ftype == "Ch" else {}
        return signal.iirfilter(order, wn, btype=BANDS[btype], ftype=PROTOTYPES[ftype], output="zpk", **kwargs)
    if ftype == "Bu":
        z, p, k = signal.buttap(order)
    elif ftype == "Ch":
        z, p, k = signal.cheb1ap(order, -ripple)
    else:
        z, p, k = signal.besselap(order, norm="mag")
    w1, w2 = 2 * np.pi * a1, 2 * np.pi * a2
    if btype == "Lp":
        z, p, k = signal.lp2lp_zpk(z, p, k, wo=w1)
    elif btype == "Hp":
        z, p, k = signal.lp2hp_zpk(z, p, k, wo=w1)
    elif btype == "Bp":
        z, p, k = signal.lp2bp_zpk(z, p, k, wo=np.sqrt(w1 * w2), bw=w2 - w1)
    else:
        z, p, k = signal.lp2bs_zpk(z, p, k, wo=np.sqrt(w1 * w2), bw=w2 - w1)
    return signal.bilinear_zpk(z, p, k, fs=1)


def design():
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        ftype, btype = words[0], words[1]
        order = int(words[2])
        a1, a2 = float(words[3]), float(words[4])
        prewarp = words[5] == "1"
        ripple = float(words[6])
        if btype in ("Lp", "Hp"):
            a2 = a1
        z, p, _ = zpk_of(ftype, btype, order, a1, a2, prewarp, ripple)
        bottom = np.poly(p)
        m = len(p)
        feedback = [-bottom[m - i].real for i in range(m)]
        # products of distances: no cancellation near a zero
        gains = [np.prod(np.abs(x - z)) / np.prod(np.abs(x - p)) for x in (1.0, np.exp(1j * np.pi * (a1 + a2)), -1.0)]
        print(m, " ".join(repr(v) for v in feedback + gains))


def fft(folder):
    rng = np.random.default_rng(20240611)
    n = 2
    while n <= 32768:
        x = rng.standard_normal(n) + 1j * rng.standard_normal(n)
        y = np.fft.fft(x)
        np.concatenate([x.real, x.imag, y.real, y.imag]).astype("<f8").tofile(f"{folder}/fft_{n}.bin")
        n *= 2


def coherence(path, pps, starts):
    data = np.fromfile(path, dtype="<i4").astype(float)
    half = len(data) // 2
    x, y = data[:half], data[half:]
    step = pps // 2
    nfft = 2
    while nfft < pps:
        nfft *= 2
    for start in starts:
        end = start + 15 * step + pps
        _, cxy = signal.coherence(x[start:end], y[start:end], fs=1.0, window=signal.windows.hann(pps, sym=True),
                                  nperseg=pps, noverlap=pps - step, nfft=nfft, detrend="linear")
        print(" ".join(repr(float(v)) for v in cxy))


if __name__ == "__main__":
    command = sys.argv[1]
    if command == "design":
        design()
    elif command == "fft":
        fft(sys.argv[2])
    elif command == "coherence":
        coherence(sys.argv[2], int(sys.argv[3]), [int(v) for v in sys.argv[4:]])
    else:
        sys.exit(f"unknown command {command}")
