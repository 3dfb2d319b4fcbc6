#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "fixtures/temp_root.h"
#include "platform/paths.h"

using fixtures::RootedTest;

class PathMapping : public RootedTest {};

TEST_F(PathMapping, DriveCPathsLandUnderTheRootWhateverTheLetterCase) {
  EXPECT_EQ(platform::mapPath("c:\\telvaris\\MQTT.log"), root.path() + "/telvaris/MQTT.log");
  EXPECT_EQ(platform::mapPath("C:\\telvaris\\export\\coherence.csv"), root.path() + "/telvaris/export/coherence.csv");
  EXPECT_EQ(platform::mapPath("c:/telvaris.log"), root.path() + "/telvaris.log");
  EXPECT_EQ(platform::mapPath("c:\\\\double\\x"), root.path() + "/double/x");
  EXPECT_EQ(platform::mapPath("c:"), root.path());
}

TEST_F(PathMapping, OtherDrivesStayApartFromDriveC) {
  EXPECT_EQ(platform::mapPath("D:\\data\\s.dat"), root.path() + "/d/data/s.dat");
  EXPECT_NE(platform::mapPath("d:\\x"), platform::mapPath("c:\\x"));
}

TEST_F(PathMapping, PathsWithoutADriveAreUsedAsGiven) {
  EXPECT_EQ(platform::mapPath("procyon.log"), "procyon.log");
  EXPECT_EQ(platform::mapPath("/var/tmp/a.log"), "/var/tmp/a.log");
  EXPECT_EQ(platform::mapPath(""), "");
  EXPECT_EQ(platform::mapPath("1:\\x"), "1:\\x");
}

TEST_F(PathMapping, RootIsCreatedButFoldersBelowItAreNot) {
  const std::string nested = root.path() + "/deeper/root";
  setenv("TELVARIS_ROOT", (nested + "//").c_str(), 1);
  EXPECT_EQ(platform::telvarisRoot(), nested);
  struct stat st {};
  EXPECT_EQ(stat(nested.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  platform::mapPath("c:\\telvaris\\MQTT.log");
  EXPECT_FALSE(platform::fileExists(nested + "/telvaris"));
}

TEST_F(PathMapping, DefaultRootIsUnderHome) {
  unsetenv("TELVARIS_ROOT");
  const std::string home = root.path() + "/home";
  const char* oldHome = getenv("HOME");
  const std::string saved = oldHome ? oldHome : "";
  setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(platform::telvarisRoot(), home + "/.local/share/telvaris");
  if (oldHome) setenv("HOME", saved.c_str(), 1);
}

TEST_F(PathMapping, ProgramFolderIsTheExecutablesUnlessOverridden) {
  const std::string folder = platform::programFolder();
  EXPECT_TRUE(platform::fileExists(folder + "/test_platform")) << folder;
  EXPECT_EQ(platform::programFolder(""), folder);
  EXPECT_EQ(platform::programFolder("/opt/lumidrop"), "/opt/lumidrop");
  // The platform layer leaves the fading program's own variable to it.
  setenv("LUMIDROP_HOME", "/opt/lumidrop", 1);
  EXPECT_EQ(platform::programFolder(), folder);
  unsetenv("LUMIDROP_HOME");
}
