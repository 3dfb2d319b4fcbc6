#include <gtest/gtest.h>
#include <time.h>

#include <cstdio>

#include "platform/clock.h"
#include "platform/dynlib.h"
#include "telvaris.h"

TEST(Clock, TimeTextIsUtcNotLocal) {
  // A zone far from UTC makes a local-time slip visible.
  setenv("TZ", "Pacific/Kiritimati", 1);  // UTC+14
  tzset();
  const time_t before = time(nullptr);
  const std::string text = platform::utcTimeText("%Y-%m-%d %H:%M:%S");
  const time_t after = time(nullptr);
  unsetenv("TZ");
  tzset();
  struct tm parsed {};
  ASSERT_NE(strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &parsed), nullptr) << text;
  const time_t stamped = timegm(&parsed);
  EXPECT_GE(stamped, before);
  EXPECT_LE(stamped, after);
}

TEST(Clock, TickAdvancesWithSleep) {
  const uint32_t start = platform::tickMs();
  platform::sleepMs(30);
  const uint32_t spent = platform::tickMs() - start;
  EXPECT_GE(spent, 30u);
  EXPECT_LT(spent, 5000u);
}

TEST(DynamicLibrary, BindsAnExportByName) {
  platform::DynamicLibrary lib;
  ASSERT_TRUE(lib.open(TELVARIS_LIBRARY_PATH)) << lib.error();
  auto report = lib.function<decltype(&::ReportVersion)>("ReportVersion");
  ASSERT_NE(report, nullptr) << lib.error();
  int32_t a = -1, b = -1, c = -1;
  EXPECT_EQ(report(&a, &b, &c), 0);
  EXPECT_EQ(a * 10000 + b * 100 + c, 50001);
}

TEST(DynamicLibrary, MissingLibraryAndExportSayWhy) {
  platform::DynamicLibrary lib;
  EXPECT_FALSE(lib.open("/nonexistent/libnothing.so"));
  EXPECT_NE(lib.error().find("libnothing"), std::string::npos) << lib.error();
  EXPECT_EQ(lib.symbol("ReportVersion"), nullptr);

  ASSERT_TRUE(lib.open(TELVARIS_LIBRARY_PATH));
  EXPECT_EQ(lib.symbol("NoSuchExport"), nullptr);
  EXPECT_NE(lib.error().find("NoSuchExport"), std::string::npos) << lib.error();
  EXPECT_EQ(platform::libraryFileName("telvaris"), "libtelvaris.so");
}
