// The FFT's tables are built once per length for the whole process: two
// threads that ask for the same length at the same moment both get it
// whole and transform correctly with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <thread>
#include <vector>

#include "dsp/fft.h"
#include "fft_tones.h"

namespace {

TEST(FftThreads, TwoThreadsPreparingTheSameLengthAtOnceBothTransformRight) {
  std::barrier together(2);
  double worst[2] = {0.0, 0.0};
  bool prepared[2] = {true, true};
  auto run = [&](int who) {
    for (int n = 2; n <= dsp::kMaxFftLength; n *= 2) {
      dsp::Fft fft;
      std::vector<double> re(n), im(n);
      together.arrive_and_wait();  // both ask for this length's tables first
      prepared[who] = prepared[who] && fft.prepare(n);
      if (prepared[who]) worst[who] = std::max(worst[who], dsptest::twoToneError(fft, re.data(), im.data()));
    }
  };
  std::thread other(run, 1);
  run(0);
  other.join();
  for (int who : {0, 1}) {
    EXPECT_TRUE(prepared[who]) << "thread " << who;
    EXPECT_LT(worst[who], 1e-12) << "thread " << who;
  }
}

}  // namespace
