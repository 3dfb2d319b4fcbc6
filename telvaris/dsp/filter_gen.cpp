#include "dsp/filter_gen.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string_view>

#include "telvaris.h"

namespace dsp::filtergen {

// Worked out from the reverse Bessel polynomials in extended precision
// (tests/dsp/bessel_poles.py does the same sum and the tests compare).
const BesselPole kBesselPoles[30] = {
    {-1.00000000000000000000, 0.0},                                     // order 1
    {-1.10160133059216170160, 0.636009824757034482170},                 // order 2
    {-1.32267579991044476720, 0.0},                                     // order 3
    {-1.04740916100893542640, 0.999264436280637575900},
    {-1.37006783055144423280, 0.410249717493752056840},                 // order 4
    {-0.995208764350273510130, 1.25710573945466610010},
    {-1.50231627144747898720, 0.0},                                     // order 5
    {-1.38087732586043958580, 0.717909587626768451200},
    {-0.957676548562681932230, 1.47112432073039506440},
    {-1.57149040361603078780, 0.320896374222623727460},                 // order 6
    {-1.38185809759656338490, 0.971471890711570970740},
    {-0.930656522946858643100, 1.66186326894259060100},
    {-1.68436817927318018140, 0.0},                                     // order 7
    {-1.61203876622612418650, 0.589244506931471476860},
    {-1.37890321679547384330, 1.19156677780065197820},
    {-0.909867780623469754300, 1.83645135303639282840},
    {-1.75740840040164315290, 0.272867575102231159670},                 // order 8
    {-1.63693941812687958460, 0.822795625139695288140},
    {-1.37384121763736952210, 1.38835657587755519280},
    {-0.892869718847132215600, 1.99832584364129520160},
    {-1.85660050122800372320, 0.0},                                     // order 9
    {-1.80717053496210119730, 0.512383730574904138040},
    {-1.65239648457883507790, 1.03138956698441052470},
    {-1.36758830979290516130, 1.56773371223726871930},
    {-0.878399276160952522050, 2.14980052431332150850},
    {-1.92761969137227691630, 0.241623470971533474080},                 // order 10
    {-1.84219624452483474010, 0.727257597757477926130},
    {-1.66181024136215199960, 1.22110021857916113900},
    {-1.36069227838454404450, 1.73350574266147612820},
    {-0.865756901708375251840, 2.29260483098247578320},
};

namespace {

constexpr double kPi = std::numbers::pi;

// The longest option string, and the part of it searched for word breaks.
constexpr size_t kMaxText = 127;
constexpr size_t kSplitSpan = 100;

enum Option : uint32_t {
  kBessel = 1u << 0,
  kButterworth = 1u << 1,
  kChebyshev = 1u << 2,
  kResonator = 1u << 3,
  kProportionalIntegral = 1u << 4,
  kLowPass = 1u << 5,
  kHighPass = 1u << 6,
  kBandPass = 1u << 7,
  kBandStop = 1u << 8,
  kAllPass = 1u << 9,
  kAlpha = 1u << 10,
  kOrder = 1u << 11,
  kPoleMask = 1u << 12,
  kNoPrewarp = 1u << 13,
  kMatchedZ = 1u << 14,
  kExtraZeros = 1u << 15,
  kNoEffect = 1u << 16,
};

struct TwoLetter {
  const char* word;
  uint32_t bit;
};
constexpr TwoLetter kTwoLetterOptions[] = {
    {"-Be", kBessel},   {"-Bu", kButterworth}, {"-Ch", kChebyshev}, {"-Re", kResonator}, {"-Pi", kProportionalIntegral},
    {"-Lp", kLowPass},  {"-Hp", kHighPass},    {"-Bp", kBandPass},  {"-Bs", kBandStop},  {"-Ap", kAllPass},
};

uint32_t letterBit(char letter) {
  switch (letter) {
    case 'a': return kAlpha;
    case 'o': return kOrder;
    case 'p': return kPoleMask;
    case 'w': return kNoPrewarp;
    case 'z': return kMatchedZ;
    case 'Z': return kExtraZeros;
    case 'l': return kNoEffect;
    default: return 0;
  }
}

int bitCount(uint32_t bits) { return __builtin_popcount(bits); }

// A pole or zero list. A design needs at most 22 entries; the room to spare
// keeps a malformed design from writing past the end.
struct RootList {
  static constexpr int kCapacity = 64;
  Complex items[kCapacity];
  int count = 0;

  bool push(Complex value) {
    if (count == kCapacity) return false;
    items[count++] = value;
    return true;
  }
  void clear() { count = 0; }
};

// Coefficients of a multiplied-out list, from z^0 upwards.
struct Polynomial {
  Complex coefficients[RootList::kCapacity + 1];
  int degree = 0;

  Complex at(Complex z) const {
    Complex sum = 0.0;
    for (int i = degree; i >= 0; --i) sum = sum * z + coefficients[i];
    return sum;
  }
};

// Everything a design leaves behind; one set per process.
struct Design {
  uint32_t options = 0;
  int order = 0;
  uint32_t poleMask = 0;
  double alpha1 = 0.0, alpha2 = 0.0;
  double warped1 = 0.0, warped2 = 0.0;
  double ripple = 0.0;
  double q = 0.0;
  bool infiniteQ = false;
  double zeroFrequency = 0.0;
  RootList sPoles, sZeros, zPoles, zZeros;
  Polynomial numerator, denominator;
  double gains[3] = {0.0, 0.0, 0.0};
  double feedback[RootList::kCapacity] = {};

  bool has(uint32_t bits) const { return (options & bits) != 0; }
};

// The design the last accepted string gave (its values are the defaults of
// the next string), and the working copy a new string is tried on.
struct Designer {
  Design kept;
  Design work;
};

Designer& designer() {
  static Designer d;  // large: kept out of the caller's stack
  return d;
}

// ---- option string -------------------------------------------------------

struct Words {
  static constexpr int kCapacity = kMaxText + 2;
  std::string_view items[kCapacity];
  int count = 0;
};

// Word breaks are single spaces within the first kSplitSpan characters; the
// rest of a longer string stays with the last word.
Words splitWords(std::string_view text) {
  Words words;
  size_t start = 0;
  const size_t span = text.size() < kSplitSpan ? text.size() : kSplitSpan;
  for (size_t i = 0; i < span; ++i) {
    if (text[i] != ' ') continue;
    words.items[words.count++] = text.substr(start, i - start);
    start = i + 1;
  }
  words.items[words.count++] = text.substr(start);
  return words;
}

double number(std::string_view word) {
  char buffer[kMaxText + 1];
  const size_t n = word.copy(buffer, kMaxText);
  buffer[n] = '\0';
  return std::strtod(buffer, nullptr);
}

int integer(std::string_view word) {
  char buffer[kMaxText + 1];
  const size_t n = word.copy(buffer, kMaxText);
  buffer[n] = '\0';
  const long value = std::strtol(buffer, nullptr, 10);
  if (value > 1'000'000) return 1'000'000;
  if (value < -1'000'000) return -1'000'000;
  return static_cast<int>(value);
}

bool startsWithDigit(std::string_view word) { return !word.empty() && word[0] >= '0' && word[0] <= '9'; }

class Parser {
 public:
  Parser(const Words& words, Design& d) : words_(words), d_(d) {}

  bool run() {
    d_.options = 0;
    d_.order = 0;
    d_.poleMask = 0;
    next_ = 1;  // the first word plays the part of a program name
    while (next_ < words_.count) {
      const std::string_view word = words_.items[next_++];
      if (word.empty() || word[0] != '-') return false;
      if (!optionWord(word)) return false;
    }
    return true;
  }

 private:
  bool value(std::string_view& out) {
    if (next_ >= words_.count) return false;
    out = words_.items[next_++];
    return true;
  }

  bool optionWord(std::string_view word) {
    for (const TwoLetter& option : kTwoLetterOptions) {
      if (word != option.word) continue;
      d_.options |= option.bit;
      std::string_view v;
      if (option.bit == kChebyshev) {
        if (!value(v)) return false;
        d_.ripple = number(v);
        if (d_.ripple >= 0.0) return false;
      } else if (option.bit == kResonator) {
        if (!value(v)) return false;
        d_.infiniteQ = (v == "Inf");
        if (!d_.infiniteQ) d_.q = number(v);
      }
      return true;
    }
    uint32_t letters = 0;
    for (char letter : word.substr(1)) {
      const uint32_t bit = letterBit(letter);
      if (bit == 0) return false;
      letters |= bit;
    }
    d_.options |= letters;
    // Values come in a fixed order, whatever the order of the letters.
    std::string_view v;
    if (letters & kAlpha) {
      if (!value(v)) return false;
      d_.alpha1 = d_.alpha2 = number(v);
      if (next_ < words_.count && (words_.items[next_].empty() || words_.items[next_][0] != '-')) {
        d_.alpha2 = number(words_.items[next_++]);
      }
    }
    if (letters & kExtraZeros) {
      if (!value(v)) return false;
      d_.zeroFrequency = number(v);
    }
    if (letters & kOrder) {
      if (!value(v)) return false;
      d_.order = integer(v);
    }
    if (letters & kPoleMask) {
      while (next_ < words_.count && startsWithDigit(words_.items[next_])) {
        int pole = integer(words_.items[next_++]);
        if (pole < 0 || pole > 31) pole = 31;
        d_.poleMask |= 1u << pole;
      }
    }
    return true;
  }

  const Words& words_;
  Design& d_;
  int next_ = 1;
};

bool valid(const Design& d) {
  bool ok = bitCount(d.options & (kBessel | kButterworth | kChebyshev | kResonator | kProportionalIntegral)) == 1;
  if (d.has(kResonator)) {
    ok &= bitCount(d.options & (kBandPass | kBandStop | kAllPass)) == 1;
    ok &= !d.has(kLowPass | kHighPass | kOrder | kPoleMask | kNoPrewarp | kMatchedZ);
  } else if (d.has(kProportionalIntegral)) {
    ok &= !d.has(kLowPass | kHighPass | kBandPass | kBandStop | kAllPass);
    ok &= d.has(kOrder) && d.order == 1;
  } else {
    ok &= bitCount(d.options & (kLowPass | kHighPass | kBandPass | kBandStop)) == 1;
    ok &= !d.has(kAllPass);
    const bool orderOk = d.has(kOrder) && d.order >= 1 && d.order <= kMaxOrder;
    ok &= orderOk;
    if (orderOk && d.has(kPoleMask)) ok &= (d.poleMask >> d.order) == 0;
  }
  ok &= d.has(kAlpha);
  return ok;
}

// ---- placing poles and zeros --------------------------------------------

// A prototype pole is kept when it lies in the left half plane and its bit
// in the mask is set; the mask counts only left-half-plane candidates.
bool offerPole(Design& d, Complex candidate, uint32_t& mask) {
  if (candidate.real() >= 0.0) return true;
  const bool keep = (mask & 1u) != 0;
  mask >>= 1;
  return !keep || d.sPoles.push(candidate);
}

bool prototypePoles(Design& d) {
  d.sPoles.clear();
  d.sZeros.clear();
  uint32_t mask = d.poleMask;
  const int n = d.order;
  if (d.has(kBessel)) {
    int entry = n * n / 4;
    if (n % 2 == 1) {
      if (!offerPole(d, {kBesselPoles[entry].re, kBesselPoles[entry].im}, mask)) return false;
      ++entry;
    }
    for (int i = 0; i < n / 2; ++i, ++entry) {
      const Complex pole(kBesselPoles[entry].re, kBesselPoles[entry].im);
      if (!offerPole(d, pole, mask) || !offerPole(d, std::conj(pole), mask)) return false;
    }
    return true;
  }
  for (int i = 0; i < 2 * n; ++i) {
    const double theta = (n % 2 == 1 ? i : i + 0.5) * kPi / n;
    if (!offerPole(d, std::polar(1.0, theta), mask)) return false;
  }
  if (d.has(kChebyshev)) {
    const double epsilon = std::sqrt(std::pow(10.0, -d.ripple / 10.0) - 1.0);
    const double y = std::asinh(1.0 / epsilon) / n;
    for (int i = 0; i < d.sPoles.count; ++i) {
      Complex& p = d.sPoles.items[i];
      p = {p.real() * std::sinh(y), p.imag() * std::cosh(y)};
    }
  }
  return true;
}

void prewarp(Design& d) {
  if (d.has(kNoPrewarp | kMatchedZ)) {
    d.warped1 = d.alpha1;
    d.warped2 = d.alpha2;
  } else {
    d.warped1 = std::tan(kPi * d.alpha1) / kPi;
    d.warped2 = std::tan(kPi * d.alpha2) / kPi;
  }
}

bool pushRepeated(RootList& list, Complex value, int times) {
  for (int i = 0; i < times; ++i) {
    if (!list.push(value)) return false;
  }
  return true;
}

// Low-pass prototype to the requested band form, in the s-plane.
bool shiftToBand(Design& d) {
  const double w1 = 2.0 * kPi * d.warped1;
  const double w2 = 2.0 * kPi * d.warped2;
  const double w0 = std::sqrt(w1 * w2);
  const double bw = w2 - w1;
  const int n = d.sPoles.count;
  if (d.has(kLowPass)) {
    for (int i = 0; i < n; ++i) d.sPoles.items[i] *= w1;
    return true;
  }
  if (d.has(kHighPass)) {
    for (int i = 0; i < n; ++i) d.sPoles.items[i] = w1 / d.sPoles.items[i];
    return pushRepeated(d.sZeros, 0.0, n);
  }
  if (d.has(kBandPass | kBandStop)) {
    const bool pass = d.has(kBandPass);
    const RootList prototype = d.sPoles;
    d.sPoles.clear();
    Complex second[RootList::kCapacity];
    for (int i = 0; i < n; ++i) {
      const Complex p = prototype.items[i];
      const Complex h = pass ? 0.5 * p * bw : 0.5 * bw / p;
      const Complex ratio = w0 / h;
      const Complex t = std::sqrt(1.0 - ratio * ratio);
      if (!d.sPoles.push(h * (1.0 + t))) return false;
      second[i] = h * (1.0 - t);
    }
    for (int i = 0; i < n; ++i) {
      if (!d.sPoles.push(second[i])) return false;
    }
    if (pass) return pushRepeated(d.sZeros, 0.0, n);
    return pushRepeated(d.sZeros, Complex(0.0, w0), n) && pushRepeated(d.sZeros, Complex(0.0, -w0), n);
  }
  return true;  // the proportional-integral section keeps its own pole and zero
}

void mapList(const RootList& from, RootList& to, bool matched) {
  to.clear();
  for (int i = 0; i < from.count; ++i) {
    const Complex s = from.items[i];
    to.push(matched ? std::exp(s) : (2.0 + s) / (2.0 - s));
  }
}

bool toZPlane(Design& d) {
  const bool matched = d.has(kMatchedZ);
  mapList(d.sPoles, d.zPoles, matched);
  mapList(d.sZeros, d.zZeros, matched);
  if (matched) return true;
  while (d.zZeros.count < d.zPoles.count) {
    if (!d.zZeros.push(-1.0)) return false;
  }
  return true;
}

void expand(const RootList& roots, Polynomial& out) {
  out.degree = roots.count;
  out.coefficients[0] = 1.0;
  for (int i = 1; i <= roots.count; ++i) out.coefficients[i] = 0.0;
  for (int k = 0; k < roots.count; ++k) {
    const Complex r = roots.items[k];
    for (int i = k + 1; i >= 1; --i) out.coefficients[i] = out.coefficients[i - 1] - r * out.coefficients[i];
    out.coefficients[0] = -r * out.coefficients[0];
  }
}

Complex response(const Design& d, Complex z) { return d.numerator.at(z) / d.denominator.at(z); }

// |numerator / denominator| at z, formed factor by factor: the expanded
// polynomials lose the small values near a zero or a tight pole cluster to
// cancellation.
double gainAt(const Design& d, Complex z) {
  double top = 1.0, bottom = 1.0;
  for (int i = 0; i < d.zZeros.count; ++i) top *= std::abs(z - d.zZeros.items[i]);
  for (int i = 0; i < d.zPoles.count; ++i) bottom *= std::abs(z - d.zPoles.items[i]);
  return top / bottom;
}

// Two-pole resonators, placed straight in the z-plane.
void resonator(Design& d) {
  const double theta = 2.0 * kPi * d.alpha1;
  d.zZeros.clear();
  d.zZeros.push(1.0);
  d.zZeros.push(-1.0);
  // Written out rather than std::polar, which requires a finite radius of 0
  // or more; a Q of "nan" must not take the design there.
  auto placePoles = [&d](double radius, double angle) {
    d.zPoles.clear();
    d.zPoles.push({radius * std::cos(angle), radius * std::sin(angle)});
    d.zPoles.push({radius * std::cos(angle), -radius * std::sin(angle)});
  };
  if (d.infiniteQ) {
    placePoles(1.0, theta);
  } else {
    // Find the pole angle that makes the response real (no phase shift) at
    // the centre frequency.
    const double radius = std::exp(-theta / (2.0 * d.q));
    const Complex centre = std::polar(1.0, theta);
    expand(d.zZeros, d.numerator);
    double low = 0.0, high = kPi, angle = theta;
    for (int round = 0; round < 50; ++round) {
      placePoles(radius, angle);
      expand(d.zPoles, d.denominator);
      const Complex h = response(d, centre);
      const double phi = h.imag() / h.real();
      if (phi > 0.0) {
        high = angle;
      } else {
        low = angle;
      }
      if (std::fabs(phi) < 1e-10) break;
      angle = 0.5 * (low + high);
    }
  }
  if (d.has(kBandStop)) {
    d.zZeros.clear();
    d.zZeros.push(std::polar(1.0, theta));
    d.zZeros.push(std::polar(1.0, -theta));
  } else if (d.has(kAllPass)) {
    d.zZeros.clear();
    for (int i = 0; i < d.zPoles.count; ++i) {
      const Complex p = d.zPoles.items[i];
      d.zZeros.push(p / std::norm(p));
    }
  }
}

bool realWithin(const Polynomial& p) {
  for (int i = 0; i <= p.degree; ++i) {
    if (std::fabs(p.coefficients[i].imag()) > 1e-10) return false;
  }
  return true;
}

// A degenerate request (no band width, a corner or Q of inf or nan) leaves
// no recurrence anyone could run.
bool finite(const Polynomial& p) {
  for (int i = 0; i <= p.degree; ++i) {
    if (!std::isfinite(p.coefficients[i].real()) || !std::isfinite(p.coefficients[i].imag())) return false;
  }
  return true;
}

bool run(Design& d) {
  if (!d.has(kPoleMask)) d.poleMask = ~0u;
  if (!d.has(kBandPass | kBandStop)) d.alpha2 = d.alpha1;

  if (d.has(kResonator)) {
    resonator(d);
  } else {
    if (d.has(kProportionalIntegral)) {
      prewarp(d);
      d.sPoles.clear();
      d.sZeros.clear();
      d.sPoles.push(0.0);
      d.sZeros.push(-2.0 * kPi * d.warped1);
    } else {
      if (!prototypePoles(d)) return false;
      prewarp(d);
    }
    if (!shiftToBand(d) || !toZPlane(d)) return false;
  }

  if (d.has(kExtraZeros)) {
    const double theta = 2.0 * kPi * d.zeroFrequency;
    if (!d.zZeros.push(std::polar(1.0, theta)) || !d.zZeros.push(std::polar(1.0, -theta))) return false;
    while (d.zPoles.count < d.zZeros.count) {
      if (!d.zPoles.push(0.0)) return false;
    }
  }

  expand(d.zZeros, d.numerator);
  expand(d.zPoles, d.denominator);
  if (!realWithin(d.numerator) || !realWithin(d.denominator) || !finite(d.denominator)) return false;

  d.gains[0] = gainAt(d, 1.0);
  d.gains[1] = gainAt(d, std::polar(1.0, kPi * (d.alpha1 + d.alpha2)));
  d.gains[2] = gainAt(d, -1.0);

  const int m = d.zPoles.count;
  const double top = d.denominator.coefficients[m].real();
  for (int i = 0; i < m; ++i) d.feedback[i] = -d.denominator.coefficients[i].real() / top;
  return true;
}

}  // namespace

int design(const char* options, double gains[3], double* coefficients) {
  if (!options || !gains || !coefficients) return -1;
  const size_t length = strnlen(options, kMaxText + 1);
  if (length > kMaxText) return -1;

  // Work on a copy so that a rejected string leaves the kept design as it was.
  Designer& d = designer();
  Design& work = d.work;
  work = d.kept;
  if (!Parser(splitWords(std::string_view(options, length)), work).run()) return -1;
  if (!valid(work) || !run(work) || work.zPoles.count > kMaxCoefficients) return -1;
  d.kept = work;

  const int m = work.zPoles.count;
  for (int i = 0; i < 3; ++i) gains[i] = work.gains[i];
  for (int i = 0; i < m; ++i) coefficients[i] = work.feedback[i];
  return m;
}

}  // namespace dsp::filtergen

// ---- exports ------------------------------------------------------------

extern "C" TLV_API int32_t TLV_CALL FilterGen(int32_t /*reserved*/, const char* options, double* gains,
                                              double* coefficients) {
  return dsp::filtergen::design(options, gains, coefficients) < 0 ? TLV_DSP_BAD_ARGUMENT : TLV_DSP_OK;
}
