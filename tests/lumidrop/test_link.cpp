// The run-time link to telvaris: loaded by file name from the program's
// folder at the first call, each function bound by its export name.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

#include "fake_telvaris.h"
#include "fixtures/temp_root.h"
#include "link/telvaris_link.h"
#include "platform/dynlib.h"

using lumidrop::LibraryTelvarisLink;

namespace {

// The fake's own handles, from the same loaded copy the link uses.
struct FakeControls {
  explicit FakeControls(const std::string& path) {
    EXPECT_TRUE(lib.open(path)) << lib.error();
    reset = lib.function<decltype(&::fakeTelvarisReset)>("fakeTelvarisReset");
    setSubscribeResult = lib.function<decltype(&::fakeTelvarisSetSubscribeResult)>("fakeTelvarisSetSubscribeResult");
    queueFeedback = lib.function<decltype(&::fakeTelvarisQueueFeedback)>("fakeTelvarisQueueFeedback");
    callsFn = lib.function<decltype(&::fakeTelvarisCalls)>("fakeTelvarisCalls");
    reset();
  }
  std::string calls() const {
    char buffer[4096];
    callsFn(buffer, sizeof buffer);
    return buffer;
  }
  platform::DynamicLibrary lib;
  decltype(&::fakeTelvarisReset) reset = nullptr;
  decltype(&::fakeTelvarisSetSubscribeResult) setSubscribeResult = nullptr;
  decltype(&::fakeTelvarisQueueFeedback) queueFeedback = nullptr;
  decltype(&::fakeTelvarisCalls) callsFn = nullptr;
};

class Link : public fixtures::RootedTest {
 protected:
  // A program folder holding `library` under the file name the link looks
  // for.
  std::string folderWith(const std::string& library) {
    const std::string folder = root.file("program");
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(library, folder + "/libtelvaris.so");
    return folder;
  }
  std::optional<std::string> failure;
  LibraryTelvarisLink::Failure onFailure() {
    return [this](const std::string& why) { failure = why; };
  }
};

}  // namespace

// First: a library once loaded stays for the process, and would then be
// found by its name.
TEST_F(Link, AMissingLibraryIsReportedByNameAndFolder) {
  const std::string folder = root.file("empty");
  std::filesystem::create_directories(folder);
  LibraryTelvarisLink link(folder, onFailure());
  int32_t a, b, c;
  EXPECT_THROW(link.ReportVersion(a, b, c), std::runtime_error);
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->find("libtelvaris.so"), std::string::npos) << *failure;
  EXPECT_NE(failure->find(folder), std::string::npos) << *failure;
}

TEST_F(Link, CallsReachTheLibraryInTheProgramFolderWithTheirArguments) {
  const std::string folder = folderWith(FAKE_TELVARIS_PATH);
  {
    LibraryTelvarisLink spent(folder, onFailure());
    int32_t a, b, c;
    spent.ReportVersion(a, b, c);
  }
  void* still = dlopen((folder + "/libtelvaris.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(still, nullptr) << "a loaded library stays loaded: its threads may outlive the link";
  if (still) dlclose(still);

  LibraryTelvarisLink link(folder, onFailure());
  EXPECT_TRUE(link.loadedFrom().empty()) << "nothing is loaded before the first call";
  int32_t major = 0, minor = 0, build = 0;
  EXPECT_EQ(link.ReportVersion(major, minor, build), 0);
  EXPECT_EQ(link.loadedFrom(), folder + "/libtelvaris.so");
  EXPECT_EQ(major * 100 + minor * 10 + build, 501);

  FakeControls fake(folder + "/libtelvaris.so");
  fake.setSubscribeResult(-3);
  fake.queueFeedback(0);
  fake.queueFeedback(1);
  link.initialiseMQTTConnection("tcp://127.0.0.1", 1884, "C1-me", 2);
  EXPECT_EQ(link.subscribeToMQTTConnection("/pelorvantis/me/feedback"), -3);
  EXPECT_EQ(link.tlMQTTRetrieveFeedbackInformation(), 0);
  EXPECT_EQ(link.tlMQTTRetrieveFeedbackInformation(), 1);
  EXPECT_EQ(link.tlMQTTRetrieveFeedbackInformation(), -1);
  link.unsubscribeFromMQTTConnection("/pelorvantis/me/feedback");
  link.terminateMQTTConnection();
  EXPECT_EQ(fake.calls(),
            "initialiseMQTTConnection tcp://127.0.0.1 1884 C1-me 2\n"
            "subscribeToMQTTConnection /pelorvantis/me/feedback\n"
            "tlMQTTRetrieveFeedbackInformation 0\n"
            "tlMQTTRetrieveFeedbackInformation 1\n"
            "unsubscribeFromMQTTConnection /pelorvantis/me/feedback\n"
            "terminateMQTTConnection\n");
  EXPECT_FALSE(failure);
}

TEST_F(Link, AMissingExportIsReportedByNameWhileTheOthersWork) {
  const std::string folder = folderWith(FAKE_TELVARIS_PARTIAL_PATH);
  LibraryTelvarisLink link(folder, onFailure());
  EXPECT_EQ(link.subscribeToMQTTConnection("t"), 0);
  EXPECT_FALSE(failure);
  EXPECT_THROW(link.tlMQTTRetrieveFeedbackInformation(), std::runtime_error);
  ASSERT_TRUE(failure);
  EXPECT_NE(failure->find("tlMQTTRetrieveFeedbackInformation"), std::string::npos) << *failure;
  EXPECT_EQ(link.terminateMQTTConnection(), 0);
}
