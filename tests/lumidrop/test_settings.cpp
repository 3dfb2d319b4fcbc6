// The settings file: the load and save lists, and CreateConfigFile with
// remote.conf.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>

#include "fixtures/temp_root.h"
#include "settings/create_config_file.h"
#include "settings/mod_options.h"

using fixtures::readFile;
using fixtures::RootedTest;
using fixtures::writeFile;
using namespace lumidrop;

namespace {

class Settings : public RootedTest {
 protected:
  std::string path() const { return root.file("lumidrop.ini"); }
  LumidropSettings load() const {
    LumidropSettings s;
    ModOptions::loadSettings(s, path());
    return s;
  }
};

// Names in a file, in the order they stand.
std::vector<std::string> keysInOrder(const std::string& text) {
  std::vector<std::string> keys;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(pos, end - pos);
    const size_t eq = line.find('=');
    keys.push_back(eq == std::string::npos ? line : line.substr(0, eq));
    pos = end + 2;
  }
  return keys;
}

}  // namespace

TEST_F(Settings, DefaultsWhenTheFileIsMissing) {
  const LumidropSettings s = load();
  EXPECT_EQ(s.AudioActive, 1);
  EXPECT_EQ(s.VideoActive, 1);
  EXPECT_EQ(s.UpdateFrequency, 100);
  EXPECT_EQ(s.VolumeInhibit, 0);
  EXPECT_EQ(s.OpacityInhibit, 100);
  EXPECT_EQ(s.AutoFade, 1);
  EXPECT_EQ(s.TestMode, 0);
  EXPECT_EQ(s.VolumeMaximum, 100);
  EXPECT_EQ(s.OpacityMinimum, 0);
  EXPECT_EQ(s.CPWidth, 0);
  EXPECT_EQ(s.Height, 0);
  EXPECT_EQ(s.Email, "");
  EXPECT_EQ(s.DSUid, 1);
  EXPECT_EQ(s.ServerPortNumber, 1883);
  EXPECT_EQ(s.ServerAddress, std::string("tcp://") + kRelayBrokerHost);
  EXPECT_EQ(s.DebugLevel, 0);
  EXPECT_EQ(s.PublisherTopic, "data");
  EXPECT_EQ(s.SubscriberTopic, "feedback");
  EXPECT_EQ(s.ClientID, "C1-");
  EXPECT_FALSE(fixtures::pathExists(path()));  // reading creates nothing
}

TEST_F(Settings, OurOwnFileReadsBackAndListsTheKeysInSaveOrder) {
  LumidropSettings s = load();
  s.AudioActive = 0;
  s.UpdateFrequency = 250;
  s.VolumeInhibit = -7;
  s.Top = -32768;
  s.CPWidth = 32767;
  s.Email = "  a b@example.org ";
  s.ClientID = "C1-a b";
  s.SubscriberTopic = "/pelorvantis/x/feedback";
  s.TestMode = 1;  // never written
  ASSERT_TRUE(ModOptions::saveSettings(s, path()));

  const std::string text = readFile(path());
  EXPECT_NE(text.find("AudioActive= 0\r\n"), std::string::npos);
  EXPECT_NE(text.find("VolumeInhibit=-7\r\n"), std::string::npos);
  EXPECT_NE(text.find("Top=-32768\r\n"), std::string::npos);
  EXPECT_NE(text.find("Email=\"  a b@example.org \"\r\n"), std::string::npos);
  EXPECT_EQ(text.find("TestMode"), std::string::npos);
  const std::vector<std::string> expected = {
      "[General]", "AudioActive", "VideoActive", "UpdateFrequency", "VolumeInhibit", "OpacityInhibit", "AutoFade",
      "ProgressiveFeedback", "InvertSound", "DisplayStatistics", "OneSD", "Top", "Left", "Height", "Width", "CPTop",
      "CPLeft", "CPHeight", "CPWidth", "VolumeMaximum", "OpacityMinimum", "InitialiseLumiDropToMinimumOpacity",
      "QELTAActive", "Email", "[MQTT]", "DSUid", "ServerPortNumber", "DebugLevel", "ServerAddress",
      "PublisherTopic", "SubscriberTopic", "ClientID"};
  EXPECT_EQ(keysInOrder(text), expected);

  LumidropSettings back = load();
  EXPECT_EQ(back.AudioActive, 0);
  EXPECT_EQ(back.UpdateFrequency, 250);
  EXPECT_EQ(back.VolumeInhibit, -7);
  EXPECT_EQ(back.Top, -32768);
  EXPECT_EQ(back.CPWidth, 32767);
  EXPECT_EQ(back.Email, "  a b@example.org ");
  EXPECT_EQ(back.ClientID, "C1-a b");
  EXPECT_EQ(back.SubscriberTopic, "/pelorvantis/x/feedback");
  EXPECT_EQ(back.TestMode, 0);
}

TEST_F(Settings, HandWrittenFileReadsAsMeantAndSurvivesASave) {
  writeFile(path(),
            "; written by hand\n"
            "[general]\n"
            "  AudioActive =0   \n"
            "VideoActive=1\r\n"
            "UpdateFrequency = 300\r\n"
            "TestMode=1\n"
            "Email = someone@example.org \n"
            "Favourite=blue\n"
            "\n"
            "[mqtt]\n"
            "ServerAddress=tcp://10.0.0.5\n"
            "SubscriberTopic=\"/pelorvantis/someone@example.org/feedback\"\n");
  LumidropSettings s = load();
  EXPECT_EQ(s.AudioActive, 0);
  EXPECT_EQ(s.VideoActive, 1);
  EXPECT_EQ(s.UpdateFrequency, 300);
  EXPECT_EQ(s.TestMode, 1);
  EXPECT_EQ(s.Email, "someone@example.org");
  EXPECT_EQ(s.ClientID, "C1-someone@example.org");  // default built from the Email just read
  EXPECT_EQ(s.ServerAddress, "tcp://10.0.0.5");
  EXPECT_EQ(s.SubscriberTopic, "/pelorvantis/someone@example.org/feedback");
  EXPECT_EQ(s.OpacityInhibit, 100);  // missing: default
  EXPECT_EQ(s.PublisherTopic, "data");

  ASSERT_TRUE(ModOptions::saveSettings(s, path()));
  const std::string text = readFile(path());
  EXPECT_EQ(text.rfind("; written by hand\r\n[general]\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("TestMode=1\r\n"), std::string::npos);
  EXPECT_NE(text.find("Favourite=blue\r\n"), std::string::npos);
  EXPECT_NE(text.find("AudioActive= 0\r\n"), std::string::npos);
  EXPECT_EQ(text.find("[General]"), std::string::npos);  // the existing section is used
  for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', nl + 1)) {
    ASSERT_TRUE(nl > 0 && text[nl - 1] == '\r') << "every line ends in CR LF";
  }
  LumidropSettings again = load();
  EXPECT_EQ(again.TestMode, 1);
  EXPECT_EQ(again.Email, s.Email);
  EXPECT_EQ(again.UpdateFrequency, 300);
  EXPECT_EQ(again.OpacityInhibit, 100);
}

TEST_F(Settings, TextThatDoesNotConvertKeepsTheFieldNotTheDefault) {
  writeFile(path(),
            "[General]\n"
            "UpdateFrequency=abc\n"
            "OpacityInhibit=40000\n"
            "VolumeInhibit=99999999999\n"
            "VideoActive=\n"
            "AudioActive= 1.5\n"
            "AutoFade=2.5\n"
            "OneSD=+1\n"
            "CPTop=-0.5\n"
            "[MQTT]\n"
            "ServerPortNumber=18 83\n");
  LumidropSettings s;
  s.VideoActive = 7;  // what the field held before the load
  ModOptions::loadSettings(s, path());
  EXPECT_EQ(s.UpdateFrequency, 0);
  EXPECT_EQ(s.OpacityInhibit, 0);
  EXPECT_EQ(s.VolumeInhibit, 0);
  EXPECT_EQ(s.VideoActive, 7);
  EXPECT_EQ(s.AudioActive, 2);  // halves go to the even neighbour
  EXPECT_EQ(s.AutoFade, 2);
  EXPECT_EQ(s.OneSD, 1);
  EXPECT_EQ(s.CPTop, 0);
  EXPECT_EQ(s.ServerPortNumber, 0);
  EXPECT_EQ(s.DSUid, 1);  // the keys after a bad one still load

  ASSERT_TRUE(ModOptions::saveSettings(s, path()));
  EXPECT_NE(readFile(path()).find("UpdateFrequency= 0\r\n"), std::string::npos);
}

TEST_F(Settings, TheClientIdentityDefaultsToTheEmailWithoutTrailingBlanks) {
  writeFile(path(), "[General]\nAudioActive=1\n");
  EXPECT_EQ(load().ClientID, "C1-");
  // The default goes through the profile read, which drops its trailing
  // blanks; the Email keeps its own.
  writeFile(path(), "[General]\nEmail=\"user@example.com \"\n");
  const LumidropSettings s = load();
  EXPECT_EQ(s.Email, "user@example.com ");
  EXPECT_EQ(s.ClientID, "C1-user@example.com");
}

TEST_F(Settings, ReadAndWriteSettingGoThroughTheFile) {
  EXPECT_EQ(ModOptions::readSetting(path(), "General", "AudioActive", "1"), "1");
  ASSERT_TRUE(ModOptions::writeSetting(path(), "General", "AudioActive", ModOptions::numberText(0)));
  EXPECT_EQ(ModOptions::readSetting(path(), "General", "AudioActive", "1"), "0");
  EXPECT_EQ(readFile(path()), "[General]\r\nAudioActive= 0\r\n");
  EXPECT_EQ(ModOptions::numberText(-12), "-12");
  EXPECT_EQ(ModOptions::numberText(0), " 0");
}

TEST_F(Settings, AFailedSaveLeavesThePreviousFileWhole) {
  LumidropSettings s = load();
  ASSERT_TRUE(ModOptions::saveSettings(s, path()));
  const std::string before = readFile(path());

  // A disk that fills up part way through the write.
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  struct rlimit tiny = old;
  tiny.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &tiny), 0);
  s.Email = std::string(200, 'e');
  const bool saved = ModOptions::saveSettings(s, path());
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);

  EXPECT_FALSE(saved);
  EXPECT_EQ(readFile(path()), before);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(root.path())) ++entries;
  EXPECT_EQ(entries, 1) << "no temporary file is left behind";
}

TEST_F(Settings, AFolderThatCannotBeWrittenIsLeftAlone) {
  LumidropSettings s = load();
  EXPECT_FALSE(ModOptions::saveSettings(s, root.file("missing-folder/lumidrop.ini")));
  EXPECT_FALSE(fixtures::pathExists(root.file("missing-folder")));
}

class RemoteConf : public RootedTest {
 protected:
  std::string conf() const { return root.file("remote.conf"); }
};

TEST_F(RemoteConf, FirstRunSetsTheLinkDefaultsAndWritesTheFile) {
  LumidropSettings s;
  s.Email = "t@example.org";
  s.ServerPortNumber = 9999;
  s.DebugLevel = 3;
  s.ServerAddress = "tcp://elsewhere";
  s.ClientID = "other";
  s.SubscriberTopic = "old";
  s.PublisherTopic = "pub";
  CreateConfigFile(s, root.path());
  EXPECT_EQ(s.ServerPortNumber, 1883);
  EXPECT_EQ(s.DebugLevel, 0);
  EXPECT_EQ(s.ServerAddress, std::string("tcp://") + kRelayBrokerHost);
  EXPECT_EQ(s.ClientID, "C1-t@example.org");
  EXPECT_EQ(s.SubscriberTopic, "/pelorvantis/t@example.org/feedback");
  EXPECT_EQ(s.PublisherTopic, "pub");
  EXPECT_EQ(readFile(conf()), std::string("PORT=1883\r\nDEBUG_LEVEL=0\r\nMQTT_ADDRESS=tcp://") + kRelayBrokerHost +
                                  "\r\nCLIENT_ID=C1-t@example.org\r\n"
                                  "SUBSCRIBER_TOPIC=/pelorvantis/t@example.org/feedback\r\n");
}

TEST_F(RemoteConf, EmptyEmailGivesTheBareIdentityAndTopic) {
  LumidropSettings s;
  CreateConfigFile(s, root.path());
  EXPECT_EQ(s.ClientID, "C1-");
  EXPECT_EQ(s.SubscriberTopic, "/pelorvantis//feedback");
  EXPECT_NE(readFile(conf()).find("CLIENT_ID=C1-\r\nSUBSCRIBER_TOPIC=/pelorvantis//feedback\r\n"), std::string::npos);
}

TEST_F(RemoteConf, AnExistingFileLeavesTheSettingsAsLoaded) {
  writeFile(conf(), "anything\n");
  LumidropSettings s;
  s.ServerPortNumber = 4242;
  s.SubscriberTopic = "mine";
  CreateConfigFile(s, root.path());
  EXPECT_EQ(s.ServerPortNumber, 4242);
  EXPECT_EQ(s.SubscriberTopic, "mine");
  EXPECT_EQ(readFile(conf()), "anything\n");
}

TEST_F(RemoteConf, AFileThatCannotBeCreatedIsReportedAndTheDefaultsStay) {
  LumidropSettings s;
  s.Email = "u@example.org";
  ::testing::internal::CaptureStderr();
  CreateConfigFile(s, root.file("not-there"));
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("cannot create"), std::string::npos) << err;
  EXPECT_NE(err.find("remote.conf"), std::string::npos) << err;
  EXPECT_EQ(s.SubscriberTopic, "/pelorvantis/u@example.org/feedback");
  EXPECT_EQ(s.ServerPortNumber, 1883);
}
