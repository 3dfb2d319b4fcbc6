// FilterGen option strings, as the main application passes them. A string
// either designs a filter (at most 22 coefficients, finite gains for a
// design inside the band) or is refused; the designer never writes past its
// outputs. The designer keeps values from earlier calls, so each input
// starts from the same two designs, which set every kept value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "dsp/filter_gen.h"
#include "fuzz_support.h"

namespace {

constexpr double kUntouched = 12345.0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using dsp::filtergen::design;
  using dsp::filtergen::kMaxCoefficients;
  double gains[3];
  // Room past the largest design: an overrun would show as a changed guard.
  double coefficients[kMaxCoefficients + 8];
  fuzzsupport::require(design("base -Ch -1 -Lp -o 2 -a 0.1 -Z 0.3", gains, coefficients) > 0,
                       "the Chebyshev base design runs");
  fuzzsupport::require(design("base -Re 10 -Bp -a 0.2", gains, coefficients) > 0, "the resonator base design runs");

  for (double& c : coefficients) c = kUntouched;
  const std::string options(reinterpret_cast<const char*>(data), size);  // zero bytes end it early
  const int count = design(options.c_str(), gains, coefficients);
  fuzzsupport::require(count >= -1 && count <= kMaxCoefficients, "a design has at most 22 coefficients");
  for (int i = count < 0 ? 0 : count; i < kMaxCoefficients + 8; ++i) {
    fuzzsupport::require(coefficients[i] == kUntouched, "nothing is written past the design's coefficients");
  }
  return 0;
}
