// The shared feedback block through libtelvaris.so, with a second real
// process (block_peer) on the same block.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/child_process.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/temp_root.h"
#include "telvaris.h"

namespace {

// Runs block_peer with `command` on this test's root; its exit code.
int peer(const std::string& root, const std::vector<std::string>& command) {
  fixtures::ChildProcess child;
  std::vector<std::string> argv = {BLOCK_PEER_PATH};
  argv.insert(argv.end(), command.begin(), command.end());
  child.start(argv, {{"TELVARIS_ROOT", root}});
  int status = -1;
  if (!child.waitExit(10000, &status)) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class FeedbackBlock : public fixtures::RootedTest {};

TEST_F(FeedbackBlock, AFreshBlockReadsZeroAndValuesCrossProcesses) {
  // This process maps the block first: all zero.
  EXPECT_EQ(tlAPIGetSystemStatus(), 0);
  EXPECT_EQ(tlAPIGetFeedbackStatus(), 0);
  EXPECT_EQ(tlAPIGetLumiDropStatus(), 0);
  EXPECT_EQ(peer(root.path(), {"zero"}), 0);

  // Another process writes; this one reads what it wrote.
  ASSERT_EQ(peer(root.path(), {"write"}), 0);
  double amplitudes[256] = {};
  tlAPIGetAmplitudeValues(amplitudes);
  EXPECT_EQ(amplitudes[1], 1.5);
  EXPECT_EQ(amplitudes[255], 382.5);
  EXPECT_EQ(tlAPIGetSystemStatus(), 7);
  EXPECT_EQ(tlAPIGetFeedbackStatus(), 2);
  EXPECT_EQ(tlAPIGetLumiDropStatus(), -12345);
  EXPECT_EQ(peer(root.path(), {"check"}), 0);

  // And the other way round.
  tlAPISetSystemStatus(3);
  EXPECT_NE(peer(root.path(), {"check"}), 0) << "the peer sees the new status";
}

TEST_F(FeedbackBlock, TheLastUserLeavingClearsTheBlockForTheNext) {
  // No user in this process: each peer is the block's only user.
  ASSERT_EQ(peer(root.path(), {"write"}), 0);
  EXPECT_EQ(peer(root.path(), {"zero"}), 0) << "the writer is gone, so the block starts over";

  // While someone holds it, contents stay.
  fixtures::ChildProcess holder;
  const std::string said = root.file("holder.out");
  holder.start({BLOCK_PEER_PATH, "hold", "20"}, {{"TELVARIS_ROOT", root.path()}}, said);
  ASSERT_TRUE(fixtures::waitFor([&] { return fixtures::readFile(said) == "holding\n"; }, 5000));
  ASSERT_EQ(peer(root.path(), {"write"}), 0);
  EXPECT_EQ(peer(root.path(), {"check"}), 0);
  holder.stop();
  EXPECT_EQ(peer(root.path(), {"zero"}), 0);
}

TEST_F(FeedbackBlock, AUserKilledWithSigkillLeavesTheBlockSane) {
  // No user in this process. A holder keeps the block while a writer is
  // killed in the middle of its writes.
  fixtures::ChildProcess holder;
  const std::string held = root.file("holder.out");
  holder.start({BLOCK_PEER_PATH, "hold", "60"}, {{"TELVARIS_ROOT", root.path()}}, held);
  ASSERT_TRUE(fixtures::waitFor([&] { return fixtures::readFile(held) == "holding\n"; }, 5000));
  auto killWriter = [&] {
    fixtures::ChildProcess writer;
    const std::string said = root.file("writer.out");
    std::remove(said.c_str());
    writer.start({BLOCK_PEER_PATH, "churn"}, {{"TELVARIS_ROOT", root.path()}}, said);
    if (!fixtures::waitFor([&] { return fixtures::readFile(said) == "churning\n"; }, 5000)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(writer.pid(), SIGKILL);
    int status = 0;
    return writer.waitExit(5000, &status) && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  };
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(killWriter());
    EXPECT_EQ(peer(root.path(), {"torn"}), 0) << "each value is one the writer wrote, round " << i;
  }
  // The block still works for everyone: nothing stays locked.
  ASSERT_EQ(peer(root.path(), {"write"}), 0);
  EXPECT_EQ(peer(root.path(), {"check"}), 0);

  // Every user killed without letting go: the next first user finds the
  // block zeroed, as after an orderly end.
  ::kill(holder.pid(), SIGKILL);
  ASSERT_TRUE(holder.waitExit(5000));
  EXPECT_EQ(peer(root.path(), {"zero"}), 0);
  ASSERT_TRUE(killWriter());
  EXPECT_EQ(peer(root.path(), {"zero"}), 0) << "a writer killed alone leaves nothing behind";
}

TEST_F(FeedbackBlock, GettersLeaveTheEdgeElementsAlone) {
  std::vector<double> a(256), t(256);
  std::vector<int32_t> m(256);
  for (int i = 0; i < 256; ++i) {
    a[i] = i + 0.25;
    t[i] = -i - 0.5;
    m[i] = 10 * i;
  }
  ASSERT_EQ(tlAPISetFeedbackValues(a.data(), t.data(), m.data()), 0);

  std::vector<double> amplitudes(256, -1.0), thresholds(256, -1.0);
  std::vector<int32_t> modalities(256, -1);
  EXPECT_EQ(tlAPIGetAmplitudeValues(amplitudes.data()), 0);
  EXPECT_EQ(tlAPIGetThresholdValues(thresholds.data()), 0);
  EXPECT_EQ(tlAPIGetModalityValues(modalities.data()), 0);
  EXPECT_EQ(amplitudes[0], -1.0);
  EXPECT_EQ(amplitudes[1], 1.25);
  EXPECT_EQ(amplitudes[255], 255.25) << "amplitudes fill element 255";
  EXPECT_EQ(thresholds[0], -1.0);
  EXPECT_EQ(thresholds[254], -254.5);
  EXPECT_EQ(thresholds[255], -1.0);
  EXPECT_EQ(modalities[0], -1);
  EXPECT_EQ(modalities[254], 2540);
  EXPECT_EQ(modalities[255], -1);

  // Status codes outside the tables are kept as given.
  tlAPISetSystemStatus(99);
  tlAPISetFeedbackStatus(-4);
  EXPECT_EQ(tlAPIGetSystemStatus(), 99);
  EXPECT_EQ(tlAPIGetFeedbackStatus(), -4);
  // NULL arrays change nothing and do not crash.
  EXPECT_EQ(tlAPISetFeedbackValues(nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(tlAPIGetAmplitudeValues(nullptr), 0);
}

TEST_F(FeedbackBlock, AmplitudesGoToTheExportFileAsFixedFields) {
  EXPECT_EQ(tlAPIWriteValues(5), -1) << "no c:\\telvaris\\export folder yet";
  fixtures::writeFile(root.file("telvaris/export/keep"), "");

  EXPECT_EQ(tlAPIWriteValues(5), 0);
  EXPECT_EQ(fixtures::readFile(root.file("telvaris/export/datachan.txt")), "    0.0000    0.0000    0.0000    0.0000");

  std::vector<double> a(256, 0.0);
  a[1] = 1.23456;
  a[2] = -7.5;
  a[3] = 123456.5;
  a[255] = 9.0;
  tlAPISetFeedbackValues(a.data(), nullptr, nullptr);
  EXPECT_EQ(tlAPIWriteValues(4), 0);
  EXPECT_EQ(fixtures::readFile(root.file("telvaris/export/datachan.txt")), "    1.2346   -7.5000123456.5000");

  EXPECT_EQ(tlAPIWriteValues(1), 0);
  EXPECT_EQ(fixtures::readFile(root.file("telvaris/export/datachan.txt")), "");
  EXPECT_EQ(tlAPIWriteValues(-3), 0);
  EXPECT_EQ(fixtures::readFile(root.file("telvaris/export/datachan.txt")), "");

  EXPECT_EQ(tlAPIWriteValues(100000), 0) << "a count beyond the channels stops at 255";
  const std::string all = fixtures::readFile(root.file("telvaris/export/datachan.txt"));
  EXPECT_EQ(all.size(), 255u * 10u + 1u);  // channels 1 to 255; channel 3 takes eleven characters
  EXPECT_EQ(all.substr(all.size() - 10), "    9.0000");
}

std::u16string g_received;
int g_calls = 0;
void TLV_CALL recordCallback(uint16_t* text) {
  ++g_calls;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const char*>(text) - 4, 4);
  g_received.assign(reinterpret_cast<const char16_t*>(text), bytes / 2);
  EXPECT_EQ(text[bytes / 2], 0) << "zero after the last character";
}

TEST_F(FeedbackBlock, CallbacksRunWithTheirStringAndAreLogged) {
  fixtures::writeFile(root.file("telvaris/keep"), "");
  const std::string log = root.file("telvaris/callback.txt");
  g_calls = 0;

  EXPECT_EQ(tlAPIStartRecording(), -1) << "empty slot";
  EXPECT_EQ(fixtures::readFile(log), "") << "an empty slot writes nothing";

  EXPECT_EQ(tlAPISetupCallback(7, recordCallback), 0);
  EXPECT_EQ(fixtures::readFile(log), "TlAPISetupCallBack\n");
  for (auto trigger : {tlAPIStartRecording, tlAPIStopRecording, tlAPIPauseDataTransfer, tlAPIResumeDataTransfer,
                       tlAPIStartPlayback, tlAPIStopPlayback})
    EXPECT_EQ(trigger(), -1) << "slot 7 changed nothing";

  EXPECT_EQ(tlAPISetupCallback(2, recordCallback), 0);
  EXPECT_EQ(tlAPIPauseDataTransfer(), 0);
  EXPECT_EQ(g_calls, 1);
  EXPECT_EQ(g_received, u"Callback from DLL");
  EXPECT_EQ(tlAPIStartRecording(), -1) << "only slot 2 is set";
  EXPECT_EQ(fixtures::readFile(log), "TlAPISetupCallBack\nTlAPISetupCallBack\nCALLBACK!\n");

  EXPECT_EQ(tlAPISetupCallback(6, recordCallback), 0) << "slot 6 is stored; nothing calls it";
  EXPECT_EQ(tlAPISetupCallback(2, nullptr), 0);
  EXPECT_EQ(tlAPIPauseDataTransfer(), -1) << "NULL empties the slot";
  EXPECT_EQ(g_calls, 1);
}

TEST_F(FeedbackBlock, CallbacksWorkWithoutAFolderForTheirLog) {
  g_calls = 0;
  EXPECT_EQ(tlAPISetupCallback(5, recordCallback), 0);
  EXPECT_EQ(tlAPIStopPlayback(), 0);
  EXPECT_EQ(g_calls, 1);
  EXPECT_FALSE(fixtures::pathExists(root.file("telvaris/callback.txt")));
}

TEST_F(FeedbackBlock, InMqttModeTheDecisionIsPublishedInsteadOfStored) {
  fixtures::MosquittoBroker broker;
  tlAPISetFeedbackStatus(1);
  ASSERT_EQ(SetDataTransferMode(2, fixtures::MosquittoBroker::kAddress, broker.port(), "session", "lab/decisions",
                                "lab/dsu", "", "", ""),
            2);
  ASSERT_EQ(initialiseMQTTConnection(fixtures::MosquittoBroker::kAddress, broker.port(), "session", 0), 0);

  fixtures::OutsideSubscriber listener(broker, "lab/decisions", 3);
  EXPECT_EQ(tlAPISetFeedbackStatus(2), 0);
  EXPECT_EQ(tlAPISetFeedbackStatus(0), 0);
  EXPECT_EQ(tlAPISetFeedbackStatus(3), 0);
  EXPECT_EQ(tlAPISetFeedbackStatus(1), 0);
  EXPECT_EQ(tlAPISetFeedbackStatus(2), 0);
  // Only 1 and 2 publish, as the bare words without a terminator.
  EXPECT_EQ(listener.payloads(), "rewardinhibitreward");
  EXPECT_EQ(tlAPIGetFeedbackStatus(), 1) << "the block keeps what was stored before";

  terminateMQTTConnection();
  SetDataTransferMode(0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  tlAPISetFeedbackStatus(2);
  EXPECT_EQ(tlAPIGetFeedbackStatus(), 2) << "out of MQTT mode the block stores again";
}

}  // namespace
