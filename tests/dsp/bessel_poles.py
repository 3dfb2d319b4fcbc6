#!/usr/bin/python3
"""Poles of the Bessel low-pass prototypes of orders 1 to 10, each scaled so
that its magnitude response is 3 dB down at 1 rad/s.

Worked out from the reverse Bessel polynomials in extended precision: numpy's
roots as a start, Newton steps in long double, then the 3 dB frequency by
bisection on |theta_n(j w)|^2 = 2 theta_n(0)^2. Prints one line per table
entry, "order real imag", the real pole first for odd orders and then one
member of each conjugate pair (positive imaginary part) by rising imaginary
part."""
import math
import numpy as np

LD = np.longdouble
CLD = np.clongdouble


def coefficients(n):
    # theta_n(s) = sum a_k s^k, a_k = (2n-k)! / (2^(n-k) k! (n-k)!), highest power first
    return [math.factorial(2 * n - k) // (2 ** (n - k) * math.factorial(k) * math.factorial(n - k))
            for k in range(n, -1, -1)]


def polish(coeffs, root):
    c = [CLD(v) for v in coeffs]
    z = CLD(root)
    for _ in range(60):
        p = CLD(0)
        dp = CLD(0)
        for v in c:
            dp = dp * z + p
            p = p * z + v
        step = p / dp
        z = z - step
        if abs(step) <= abs(z) * LD(1e-19):
            break
    return z


def magnitude2(coeffs, w):
    z = CLD(complex(0, 1)) * LD(w)
    p = CLD(0)
    for v in coeffs:
        p = p * z + CLD(v)
    return (p.real * p.real + p.imag * p.imag)


def cutoff(coeffs):
    target = LD(2) * LD(coeffs[-1]) ** 2
    lo, hi = LD(0), LD(10)
    for _ in range(200):
        mid = (lo + hi) / 2
        if magnitude2(coeffs, mid) < target:
            lo = mid
        else:
            hi = mid
    return (lo + hi) / 2


def table():
    rows = []
    for n in range(1, 11):
        c = coefficients(n)
        roots = [polish(c, r) for r in np.roots(np.array(c, dtype=float))]
        wc = cutoff(c)
        poles = [r / wc for r in roots]
        real = [p for p in poles if abs(p.imag) < LD(1e-12)]
        upper = sorted((p for p in poles if p.imag > LD(1e-12)), key=lambda p: p.imag)
        for p in real + upper:
            rows.append((n, p.real, p.imag if p in upper else LD(0)))
    return rows


if __name__ == "__main__":
    for n, re, im in table():
        print(n, np.format_float_scientific(re, precision=20), np.format_float_scientific(im, precision=20))
