// GenerateCoherenceValues when memory runs out. This test program replaces
// the global allocation functions so that the n-th allocation can be made
// to fail, of either kind: a no-throw array allocation gives NULL, any other
// throws std::bad_alloc. All of them go through malloc and free, which keeps
// the sanitizers' bookkeeping consistent.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "fixtures/temp_root.h"
#include "telvaris.h"

namespace {
// -1: never fail; otherwise the number of allocations that still succeed.
int allowedAllocations = -1;
int failedAllocations = 0;
int failedThrowing = 0;  // of them, allocations that threw

bool mayAllocate() {
  if (allowedAllocations == 0) {
    ++failedAllocations;
    return false;
  }
  if (allowedAllocations > 0) --allowedAllocations;
  return true;
}

void* allocate(std::size_t n) {
  if (!mayAllocate()) {
    ++failedThrowing;
    throw std::bad_alloc();
  }
  void* p = std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return mayAllocate() ? std::malloc(n ? n : 1) : nullptr;
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

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
  for (int allowed = 0; allowed < 200 && succeededAt < 0; ++allowed) {
    std::vector<double> out(128, -5.0);
    failedAllocations = 0;
    allowedAllocations = allowed;
    const int32_t result = GenerateCoherenceValues(2048, a.data(), b.data(), out.data(), 1, 256, 256, 1);
    allowedAllocations = -1;
    if (failedAllocations == 0) {
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
  EXPECT_GT(failedThrowing, 0) << "some of them throw";
  EXPECT_NE(fixtures::readFile(exportFile), "previous run\n") << "a complete run replaces the export";
}

}  // namespace
