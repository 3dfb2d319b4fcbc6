// The FFT's tables are built once per length for the whole process: two
// threads that ask for the same length at the same moment both get it
// whole and transform correctly with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "dsp/fft.h"
#include "fft_tones.h"

namespace {

// Two threads meet here before each length. Not std::barrier: mingw-w64's
// libstdc++ builds it on atomic waits that can miss a wake-up where there is
// no futex, and both threads then sleep for ever (seen under wine).
class Rendezvous {
 public:
  void arriveAndWait() {
    std::unique_lock lock(mutex_);
    const unsigned round = round_;
    if (++arrived_ == 2) {
      arrived_ = 0;
      ++round_;
      both_.notify_all();
    } else {
      both_.wait(lock, [&] { return round_ != round; });
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable both_;
  int arrived_ = 0;
  unsigned round_ = 0;
};

TEST(FftThreads, TwoThreadsPreparingTheSameLengthAtOnceBothTransformRight) {
  Rendezvous together;
  double worst[2] = {0.0, 0.0};
  bool prepared[2] = {true, true};
  auto run = [&](int who) {
    for (int n = 2; n <= dsp::kMaxFftLength; n *= 2) {
      dsp::Fft fft;
      std::vector<double> re(n), im(n);
      together.arriveAndWait();  // both ask for this length's tables first
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
