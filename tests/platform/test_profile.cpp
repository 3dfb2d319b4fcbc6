// Profile (INI) files read and written as the Windows profile functions
// do: how values, names, line ends and defaults read, and what a write
// keeps.
#include <gtest/gtest.h>

#include <string>

#include "fixtures/temp_root.h"
#include "platform/profile.h"

using fixtures::readFile;
using fixtures::RootedTest;
using fixtures::writeFile;

namespace {

class Profile : public RootedTest {
 protected:
  std::string path() const { return root.file("p.ini"); }
  std::string get(const std::string& section, const std::string& key, const std::string& def = "DEF") const {
    return platform::getPrivateProfileString(section, key, def, 255, path());
  }
};

}  // namespace

TEST_F(Profile, ValuesReadWithoutOneQuotePairAndWithoutSurroundingBlanks) {
  writeFile(path(),
            "[Main]\n"
            "plain=  some text  \n"
            "quoted=\"  inner blanks  \"\n"
            "single='x'\n"
            "twice=\"\"a\"\"\n"
            "lopsided=\"open\n"
            "  spaced key  =\tv\t\n"
            "empty=\n");
  EXPECT_EQ(get("Main", "plain"), "some text");
  EXPECT_EQ(get("Main", "quoted"), "  inner blanks  ");
  EXPECT_EQ(get("Main", "single"), "x");
  EXPECT_EQ(get("Main", "twice"), "\"a\"");
  EXPECT_EQ(get("Main", "lopsided"), "\"open");
  EXPECT_EQ(get("Main", "spaced key"), "v");
  EXPECT_EQ(get("Main", "empty"), "");  // present but empty: not the default
}

TEST_F(Profile, NamesMatchWithoutCaseAndTheFirstMatchWins) {
  writeFile(path(), "[general]\r\nKEY=first\r\nkey=second\r\n[GENERAL]\r\nkey=third\r\n[Other]\r\nkey=other\r\n");
  EXPECT_EQ(get("General", "Key"), "first");
  EXPECT_EQ(get("OTHER", "KEY"), "other");
  EXPECT_EQ(get("General", "missing"), "DEF");
  EXPECT_EQ(get("Missing", "key"), "DEF");
}

TEST_F(Profile, MissingFileGivesTheDefaultAndTheBufferCutsLongValues) {
  EXPECT_EQ(get("Main", "k", "fallback"), "fallback");
  const std::string longValue(300, 'x');
  writeFile(path(), "[Main]\nk=" + longValue + "\n");
  EXPECT_EQ(get("Main", "k").size(), 254u);
  EXPECT_EQ(platform::getPrivateProfileString("Main", "nothing", longValue, 255, path()).size(), 254u);
  // The quotes do not count against the buffer: 254 characters inside
  // them fill it exactly.
  const std::string longest(254, 'q');
  writeFile(path(), "[Main]\nk=\"" + longest + "\"\nk2=\"" + longest + "r\"\n");
  EXPECT_EQ(get("Main", "k"), longest);
  EXPECT_EQ(get("Main", "k2"), longest);
  EXPECT_EQ(platform::getPrivateProfileString("Main", "k", "", 1, path()), "");
  EXPECT_EQ(platform::getPrivateProfileString("Main", "k", "", 0, path()), "");
}

TEST_F(Profile, WritesReplaceInPlaceAddAfterTheSectionAndKeepEverythingElse) {
  writeFile(path(),
            "; kept comment\n"
            "[A]\n"
            "x=1\n"
            "; about y\n"
            "y=2\n"
            "\n"
            "[B]\n"
            "z=3\n");
  ASSERT_TRUE(platform::writePrivateProfileString("a", "Y", "20", path()));
  ASSERT_TRUE(platform::writePrivateProfileString("A", "new", "n", path()));
  ASSERT_TRUE(platform::writePrivateProfileString("C", "c", "cc", path()));
  EXPECT_EQ(readFile(path()),
            "; kept comment\r\n"
            "[A]\r\n"
            "x=1\r\n"
            "; about y\r\n"
            "Y=20\r\n"
            "new=n\r\n"
            "\r\n"
            "[B]\r\n"
            "z=3\r\n"
            "[C]\r\n"
            "c=cc\r\n");
}

TEST_F(Profile, AByteOrderMarkIsNotPartOfTheFirstSection) {
  writeFile(path(), "\xEF\xBB\xBF[Main]\r\nk=v\r\n");
  EXPECT_EQ(get("Main", "k"), "v");
  ASSERT_TRUE(platform::writePrivateProfileString("Main", "k", "w", path()));
  EXPECT_EQ(readFile(path()), "\xEF\xBB\xBF[Main]\r\nk=w\r\n");
}

TEST_F(Profile, WritingCreatesTheFileAndFailsQuietlyWhereItCannot) {
  ASSERT_TRUE(platform::writePrivateProfileString("S", "k", "v", path()));
  EXPECT_EQ(readFile(path()), "[S]\r\nk=v\r\n");
  EXPECT_FALSE(platform::writePrivateProfileString("S", "k", "v", root.file("no/such/folder/p.ini")));
  EXPECT_FALSE(fixtures::pathExists(root.file("no")));
}

TEST_F(Profile, LinesEndInCrLfLfOrALoneCr) {
  // An editor of the old Mac kind ends lines in CR alone; a write puts the
  // key back in its place and the file in CR LF.
  writeFile(path(), "[Main]\rfirst=1\rsecond=2\r\n[Next]\nthird=3\rfourth=4\r");
  EXPECT_EQ(get("Main", "first"), "1");
  EXPECT_EQ(get("Main", "second"), "2");
  EXPECT_EQ(get("Next", "third"), "3");
  EXPECT_EQ(get("Next", "fourth"), "4");
  ASSERT_TRUE(platform::writePrivateProfileString("Main", "second", "22", path()));
  EXPECT_EQ(readFile(path()), "[Main]\r\nfirst=1\r\nsecond=22\r\n[Next]\r\nthird=3\r\nfourth=4\r\n");
}

TEST_F(Profile, ALineWithOnlyAKeysNameIsThatKeyWithoutAValue) {
  writeFile(path(), "[Main]\n; a comment, not a key\n  flag  \nflag=late\nother=o\n");
  EXPECT_EQ(get("Main", "flag"), "DEF") << "the bare name is found first, and it has no value";
  EXPECT_EQ(get("Main", "other"), "o");
  // A write gives the bare name its value, in its place.
  ASSERT_TRUE(platform::writePrivateProfileString("Main", "FLAG", "v", path()));
  EXPECT_EQ(readFile(path()), "[Main]\r\n; a comment, not a key\r\nFLAG=v\r\nflag=late\r\nother=o\r\n");
  EXPECT_EQ(get("Main", "flag"), "v");
}

TEST_F(Profile, TrailingBlanksOfADefaultAreDropped) {
  writeFile(path(), "[Main]\nblank=\" \"\n");
  EXPECT_EQ(get("Main", "missing", "  fallback \t "), "  fallback");
  EXPECT_EQ(get("Main", "missing", "   "), "");
  EXPECT_EQ(get("Main", "blank", "x"), " ") << "a value's own blanks, inside quotes, stay";
}
