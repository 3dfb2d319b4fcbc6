// GenerateCoherenceValues when memory runs out: the n-th allocation fails,
// of either kind (a no-throw array allocation gives NULL, any other throws
// std::bad_alloc), for every n until a run needs no more.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/failing_allocator.h"
#include "fixtures/temp_root.h"
#include "telvaris.h"

namespace {

class CoherenceMemory : public fixtures::RootedTest {};

TEST_F(CoherenceMemory, EveryFailedAllocationReturnsMinusTwoAndLeavesTheOldExport) {
  const std::string exportFile = root.file("telvaris/export/coherence.csv");
  fixtures::writeFile(exportFile, "previous run\n");
  std::vector<int32_t> a(2048), b(2048);
  for (int i = 0; i < 2048; ++i) {
    a[i] = (i * 37) % 101;
    b[i] = (i * 53) % 89;
  }
  int succeededAt = -1;
  int thrown = 0;
  for (int allowed = 0; allowed < 200 && succeededAt < 0; ++allowed) {
    std::vector<double> out(128, -5.0);
    fixtures::allocation::failAfter(allowed);
    const int32_t result = GenerateCoherenceValues(2048, a.data(), b.data(), out.data(), 1, 256, 256, 1);
    fixtures::allocation::disarm();
    thrown += fixtures::allocation::thrownFailures();
    if (fixtures::allocation::failures() == 0) {
      EXPECT_EQ(result, 0);
      succeededAt = allowed;
      break;
    }
    EXPECT_EQ(result, -2) << "allocation " << allowed + 1 << " failed";
    for (double v : out) ASSERT_EQ(v, -5.0) << "nothing computed";
    EXPECT_EQ(fixtures::readFile(exportFile), "previous run\n");
    EXPECT_FALSE(fixtures::pathExists(exportFile + ".tmp"));
  }
  EXPECT_GT(succeededAt, 0) << "the run allocates";
  EXPECT_GT(thrown, 0) << "some of them throw";
  EXPECT_NE(fixtures::readFile(exportFile), "previous run\n") << "a complete run replaces the export";
}

}  // namespace
