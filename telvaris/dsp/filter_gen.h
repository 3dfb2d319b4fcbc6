// The recursive filter designer behind FilterGen.
//
// A design is described by an option string (a program name, then option
// words such as "-Bu -Bp -o 3 -a 0.1 0.2"). The designer places the poles
// and zeros, multiplies them out and hands back the three gains and the
// feedback coefficients. The last successful design is kept between calls:
// values a string leaves out (ripple, Q, extra-zero frequency, corners) keep
// what an earlier call gave them.
#pragma once

#include <complex>
#include <cstdint>

namespace dsp::filtergen {

using Complex = std::complex<double>;

// Feedback coefficients a design can hand back: 20 poles, two more when an
// extra zero pair is padded with poles at the origin.
constexpr int kMaxCoefficients = 22;

// Orders of the analogue prototypes.
constexpr int kMaxOrder = 10;

struct BesselPole {
  double re;
  double im;
};

// The Bessel prototypes of orders 1 to 10, 3 dB down at 1 rad/s: order n
// starts at entry n*n/4, its real pole first when n is odd, then one member
// of each conjugate pair.
extern const BesselPole kBesselPoles[30];

// Runs one design. Returns the number of feedback coefficients written to
// `coefficients` (0 to kMaxCoefficients), or -1 when the option string is
// invalid; then neither the outputs nor the kept design change.
int design(const char* options, double gains[3], double* coefficients);

}  // namespace dsp::filtergen
