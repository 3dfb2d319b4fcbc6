// Running out of memory in the session's exports: each allocation
// InitialiseDSU makes fails in turn, and every time the call says so and
// the next one, with memory back, starts a session (none is left half
// started); LoadSession answers with its code and loads once memory is back.
#include <gtest/gtest.h>

#include "dsu_link_support.h"
#include "fixtures/failing_allocator.h"
#include "p3_samples.h"
#include "telvaris.h"

namespace {

namespace allocation = fixtures::allocation;

class DsuOutOfMemory : public dsutest::DsuLinkTest {
 protected:
  void TearDown() override {
    allocation::disarm();
    TerminateDSU(0, 0, nullptr);
    CleanUpLoadedSession();
    DsuLinkTest::TearDown();
  }
  // A session without a DSU ends by itself (status 4, or 3 when its own
  // allocation failed).
  static bool ended() {
    return fixtures::waitFor([] { return GetSystemStatus(0) == 4 || GetSystemStatus(0) == 3; }, 10000);
  }
};

TEST_F(DsuOutOfMemory, EveryFailingAllocationOfAStartIsAResultAndTheNextStartWorks) {
  int failedStarts = 0;
  for (int allowed = 0; allowed < 50; ++allowed) {
    allocation::failAfter(allowed);
    const int32_t started = InitialiseDSU(0);
    allocation::disarm();
    if (started == TLV_INIT_STARTED) {
      ASSERT_TRUE(ended());
      break;
    }
    EXPECT_EQ(started, TLV_INIT_NOT_STARTED);
    ++failedStarts;
    ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED) << "after " << allowed << " allocations";
    ASSERT_TRUE(ended());
    EXPECT_EQ(TerminateDSU(0, 0, nullptr), TLV_TERMINATE_OK);
  }
  EXPECT_GE(failedStarts, 2);  // the log file's path, the thread

  const std::string path = root.file("session.raw");
  fixtures::writeFile(path, dsutest::samplePackets(14, 10));
  allocation::failAll();
  const int32_t loaded = LoadSession(path.c_str());
  allocation::disarm();
  EXPECT_EQ(loaded, TLV_LOAD_NO_MEMORY);
  ASSERT_EQ(LoadSession(path.c_str()), TLV_LOAD_OK);
  EXPECT_EQ(PacketsInBuffer(0), 10);
}

}  // namespace
