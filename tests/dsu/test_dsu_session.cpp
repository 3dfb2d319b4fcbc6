// Whole DSU sessions against the DSU simulator: over a pseudo-terminal for
// every packet length, paused and resumed, filling a one-minute recording,
// cut off mid-stream, ended while scanning, in monitor mode; over TCP/IP;
// through a real broker on the MQTT and relay-service roads, also while the
// broker restarts and while its receive queue overflows; and ended while
// its MQTT connect hangs. The simulator replays packets that say who
// they are (p3_samples.h), so what GetP3Data hands out and what the session
// file holds are checked against what the simulator sent.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "dsu/serial_wire.h"
#include "dsu/session.h"
#include "dsu_link_support.h"
#include "fixtures/dsu_simulator.h"
#include "fixtures/mosquitto_broker.h"
#include "fixtures/pty_pair.h"
#include "net/mqtt_link.h"
#include "p3_samples.h"
#include "telvaris.h"

namespace {

using dsutest::countMatching;
using dsutest::Decoded;
using fixtures::DsuSimulator;
using Clock = std::chrono::steady_clock;

constexpr int kCom = 5;
constexpr int kPeriod = 1000;  // packets in the simulator's replay

long long msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// The sample packet number of a decoded packet; -1 when it is none.
int sampleNumber(const Decoded& d, int length) {
  const int k = d.channels[0];
  if (k < 0 || k >= kPeriod) return -1;
  Decoded want = dsutest::expectedSample(length, k);
  want.aux = d.aux;  // a button mark changes nothing else
  return d == want ? k : -1;
}

// How often a run of sample packets does not go on from the packet before
// (a pause, a monitor period); each packet must be a sample packet.
int jumps(const std::vector<Decoded>& packets, int length) {
  int count = 0;
  int previous = -1;
  for (const Decoded& d : packets) {
    const int k = sampleNumber(d, length);
    EXPECT_GE(k, 0) << "not a packet the simulator sent: counter " << d.counter << ", channel 0 " << d.channels[0];
    if (previous >= 0 && k != (previous + 1) % kPeriod) ++count;
    previous = k;
  }
  return count;
}

// A session file cut into packets, decoded by the standalone decoder.
std::vector<Decoded> packetsOf(const std::string& file, int length) {
  std::vector<Decoded> out;
  for (size_t at = 0; at + static_cast<size_t>(length) <= file.size(); at += static_cast<size_t>(length)) {
    Decoded d;
    d.channels.assign(32, 0);
    StandaloneDecodeP3Packet(d.channels.data(), reinterpret_cast<const uint8_t*>(file.data() + at), length, &d.counter,
                             &d.aux);
    out.push_back(d);
  }
  return out;
}

// The statuses 7, 1, 6, 0 first, as a session starts.
std::vector<int32_t> startOf(const std::vector<int32_t>& trail) {
  return {trail.begin(), trail.begin() + static_cast<long>(std::min<size_t>(4, trail.size()))};
}

// A broker that takes the connection and never answers it, then goes away
// for good (the client library would otherwise try again, with an older
// protocol version, and wait out its whole connect time-out).
class SilentBroker {
 public:
  explicit SilentBroker(int holdMs) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("no listening socket");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, holdMs] {
      int client = -1;
      while (!stop_ && client < 0) {
        pollfd p {listener_, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) client = ::accept(listener_, nullptr, nullptr);
      }
      const auto until = Clock::now() + std::chrono::milliseconds(holdMs);
      while (!stop_ && Clock::now() < until) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (client >= 0) ::close(client);
      ::close(listener_);
      dropped_ = true;
    });
  }
  ~SilentBroker() {
    stop_ = true;
    thread_.join();
  }
  int port() const { return port_; }
  bool dropped() const { return dropped_; }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_ {false};
  std::atomic<bool> dropped_ {false};
  std::thread thread_;
};

class DsuSession : public dsutest::DsuLinkTest {
 protected:
  void SetUp() override {
    DsuLinkTest::SetUp();
    SetScanPortWaitTime(20);
    SetScanWaitTime(0, 300);
    SetRecordingLength(2);
  }
  void TearDown() override {
    // A session a failed check left behind ends here.
    TerminateDSU(0, 0, nullptr);
    WineHack(0);
    MonitorMode(TLV_MONITOR_RELEASE);
    CleanUpLoadedSession();
    SetRecordingLength(360);
    net::mqtt::terminate();
    DsuLinkTest::TearDown();
  }

  // The simulator's replay: kPeriod sample packets of `length` bytes.
  std::string replay(int length) {
    replayBytes = dsutest::samplePackets(length, kPeriod);
    const std::string path = root.file("replay-" + std::to_string(length) + ".raw");
    fixtures::writeFile(path, replayBytes);
    return path;
  }
  std::vector<std::string> simOptions(int length, std::vector<std::string> more = {}) {
    std::vector<std::string> o = {"--length", std::to_string(length), "--replay", replay(length)};
    o.insert(o.end(), more.begin(), more.end());
    return o;
  }
  static bool waitStatus(int32_t status, int timeoutMs = 10000) {
    return fixtures::waitFor([&] { return GetSystemStatus(0) == status; }, timeoutMs);
  }
  // Packets from GetP3Data until there are `count` (or time is up).
  static std::vector<Decoded> collect(size_t count, int timeoutMs = 10000) {
    std::vector<Decoded> all;
    fixtures::waitFor(
        [&] {
          for (auto& d : dsutest::takePackets()) all.push_back(d);
          return all.size() >= count;
        },
        timeoutMs);
    return all;
  }
  // The session file: whole packets, read round the replay from a packet
  // boundary; its offset in the replay.
  long checkSessionFile(const std::string& file, int length) {
    EXPECT_EQ(file.size() % static_cast<size_t>(length), 0u);
    const long offset = dsutest::cyclicOffset(replayBytes, file);
    EXPECT_GE(offset, 0) << "the session file is not what the simulator sent";
    EXPECT_EQ(offset % length, 0);
    return offset;
  }
  std::string sessionPath() const { return root.file("session.raw"); }

  std::string replayBytes;
};

TEST_F(DsuSession, SerialSessionsOfEveryPacketLength) {
  SetComPorts(0, 1, 50, kCom - 1);
  for (int length : {14, 5, 8, 11, 50}) {
    SCOPED_TRACE("packet length " + std::to_string(length));
    DsuSimulator sim(dsutest::kSimulator, kCom, simOptions(length));
    SetDSUPacketLength(0, length);
    ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
    ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK)) << "status " << GetSystemStatus(0);
    EXPECT_EQ(startOf(dsu::statusTrail()), (std::vector<int32_t> {7, 1, 6, 0}));
    EXPECT_EQ(ActiveComPort(0), kCom - 1);
    const std::vector<Decoded> taken = collect(100);
    ASSERT_GE(taken.size(), 100u);
    EXPECT_EQ(jumps(taken, length), 0);

    ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
    EXPECT_EQ(GetSystemStatus(0), TLV_DSU_CLOSEDOWN_COMPLETE);
    EXPECT_EQ(dsu::statusTrail().back(), TLV_DSU_CLOSEDOWN_COMPLETE);
    // Byte for byte what the simulator streamed from its start on, and
    // what GetP3Data handed out is the same packets from the first on.
    const std::string file = fixtures::readFile(sessionPath());
    EXPECT_EQ(file.size(), static_cast<size_t>(TotalBytesRead(0)));
    const long offset = checkSessionFile(file, length);
    const std::vector<Decoded> saved = packetsOf(file, length);
    ASSERT_GE(saved.size(), taken.size());
    EXPECT_EQ(std::vector<Decoded>(saved.begin(), saved.begin() + static_cast<long>(taken.size())), taken);
    EXPECT_EQ(sampleNumber(taken.front(), length), offset / length);

    if (length == 14) {
      // The session's log, in order (the closedown waits interleave).
      const std::vector<std::string> steps = {
          "Initialising DSU",
          "Creating DSU read thread",
          "Thread created",
          "Telvaris identified on COM5",
          "Setting Serial 'single-step' mode",
          "Processing on COM Port: 5",
          "Allocating main storage: 430080",
          "430080 bytes of memory allocated",
          "Allocating 32 P3 Buffers",
          "P3 buffers successfully allocated",
          "Pre-flight Check: System status code: 0, Memory status code: 0",
          "DSU reports protocol is set to Telvaris",
          "DSU Identification:",
          "Bringing encoder online",
          "Flushing Receiver Unit",
          "Sending 'RING'",
          "Device returned \\d+ bytes",
          "Received terminate command",
          "Issuing terminate command",
          "Terminating 'read' thread",
          "Sending 'NO CARRIER'",
          "Closing COM5",
          "Final System Status: 0",
          "Bytes read: " + std::to_string(file.size()),
          "Total Packets: \\d+",
          "Nominal Packets Per Second: [0-9]+\\.[0-9]+",
          "Errors: 0",
          "Reads: \\d+",
          "Session data \\(" + std::to_string(file.size()) + " bytes\\) written to .*",
          "P3 pointer fields released",
          "P3 pointer buffer released",
          "Main Memory Released"};
      const auto messages = log();
      size_t next = 0;
      for (const auto& m : messages) {
        if (next < steps.size() && countMatching({m}, steps[next]) == 1) ++next;
      }
      EXPECT_EQ(next, steps.size()) << "missing from the log: " << steps[std::min(next, steps.size() - 1)];
    }
  }
}

TEST_F(DsuSession, PauseResumeAButtonMarkAndWhatARunningSessionRefuses) {
  SetComPorts(0, 1, 50, kCom - 1);
  DsuSimulator sim(dsutest::kSimulator, kCom, simOptions(14));
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  std::vector<Decoded> taken = collect(40);

  // Nothing may change the storage under a running session.
  EXPECT_EQ(InitialiseDSU(0), TLV_INIT_NOT_STARTED);
  EXPECT_EQ(LoadSession(sessionPath().c_str()), TLV_LOAD_SESSION_RUNNING);
  EXPECT_EQ(CleanUpLoadedSession(), TLV_LOAD_SESSION_RUNNING);
  EXPECT_EQ(MonitorMode(TLV_RECORD_ON), TLV_MONITOR_OK);  // already recording: nothing to restore

  EXPECT_EQ(PauseRecording(0), 0);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_PAUSED);
  EXPECT_TRUE(sim.waitForOutput("NO CARRIER: stream stopped"));
  for (auto& d : dsutest::takePackets()) taken.push_back(d);  // nothing: the status is not 0
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  // Paused, not waiting for data; what still comes is let go.
  const int32_t stored = TotalBytesRead(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_PAUSED);
  EXPECT_EQ(TotalBytesRead(0), stored);
  int32_t channels[8], format, counter = 0, aux;
  EXPECT_EQ(GetP3Data(channels, 8, &format, &counter, &aux), TLV_P3_NOT_RUNNING);
  EXPECT_EQ(counter, -1);
  int32_t epoch[256];
  EXPECT_EQ(GetEpoch(0, 0, epoch, 1, 0, 1), TLV_EPOCH_NOT_RUNNING);

  EXPECT_EQ(ResumeRecording(0), 0);
  EXPECT_EQ(BatteryStatus(), 1);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  EXPECT_EQ(SetManualButton(0, 0), TLV_BUTTON_REQUESTED);
  const size_t before = taken.size();
  for (auto& d : collect(60)) taken.push_back(d);
  ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);

  // One mark, on a packet after the request; at most one gap (the pause).
  size_t marks = 0, markedAt = 0;
  for (size_t i = 0; i < taken.size(); ++i) {
    if (taken[i].aux == -1) {
      ++marks;
      markedAt = i;
    }
  }
  EXPECT_EQ(marks, 1u);
  EXPECT_GE(markedAt, before);
  EXPECT_LE(jumps(taken, 14), 1);
  // The file carries the mark as 0xFF and holds what was handed out.
  const std::string file = fixtures::readFile(sessionPath());
  const std::vector<Decoded> saved = packetsOf(file, 14);
  ASSERT_GE(saved.size(), taken.size());
  EXPECT_EQ(std::vector<Decoded>(saved.begin(), saved.begin() + static_cast<long>(taken.size())), taken);
  EXPECT_EQ(static_cast<uint8_t>(file[markedAt * 14 + 1]), 0xFF);
  EXPECT_EQ(countMatching(log(), "Manual Button inserted at Packet \\d+"), 1u);
  EXPECT_EQ(countMatching(log(), "Read thread of the last session still running - not initialising"), 1u);
}

TEST_F(DsuSession, AOneMinuteRecordingFillsAndTheNextSessionStartsClean) {
  SetComPorts(0, 1, 50, kCom - 1);
  ASSERT_EQ(SetRecordingLength(1), TLV_RECORDING_OK);
  {
    // Thirty times the unit's pace: a minute of data in two seconds.
    DsuSimulator sim(dsutest::kSimulator, kCom, simOptions(14, {"--speed", "30"}));
    ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
    ASSERT_TRUE(waitStatus(TLV_DSU_END_OF_MEMORY, 20000)) << "status " << GetSystemStatus(0);
    EXPECT_LE(TotalBytesRead(0), 215040);
    // The stream is drained and let go; the status stays over later reads.
    const std::string readWithData = "Device returned [1-9][0-9]* bytes";
    const size_t readsAtFull = countMatching(log(), readWithData);
    EXPECT_TRUE(fixtures::waitFor([&] { return countMatching(log(), readWithData) > readsAtFull + 2; }, 5000));
    EXPECT_EQ(GetSystemStatus(0), TLV_DSU_END_OF_MEMORY);
    EXPECT_GE(countMatching(log(), "Out of memory - buffer too small or recording too long"), 1u);
    ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
    const std::string file = fixtures::readFile(sessionPath());
    EXPECT_EQ(file.size(), static_cast<size_t>(TotalBytesRead(0)));
    // Full but for less than one read's worth.
    EXPECT_GT(file.size(), 215040u / 2);
    checkSessionFile(file, 14);
  }
  {
    // Five-byte packets: the decoded store (15360 packets) fills first;
    // bytes are still stored, packets no longer decoded.
    DsuSimulator sim(dsutest::kSimulator, kCom, simOptions(5, {"--speed", "30"}));
    SetDSUPacketLength(0, 5);
    ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
    EXPECT_NE(GetSystemStatus(0), TLV_DSU_END_OF_MEMORY);  // the last session's overflow is gone
    ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
    ASSERT_TRUE(waitStatus(TLV_DSU_END_OF_MEMORY, 20000));
    const int32_t atFull = TotalBytesRead(0);
    EXPECT_GE(atFull, 15360 * 5);
    EXPECT_TRUE(fixtures::waitFor([&] { return TotalBytesRead(0) > atFull + 5000; }, 5000));
    EXPECT_EQ(GetSystemStatus(0), TLV_DSU_END_OF_MEMORY);
    EXPECT_EQ(PacketsInBuffer(0), 15360);
    EXPECT_EQ(countMatching(log(), "Decoded packet store full - packets are no longer decoded"), 1u);
    ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
    EXPECT_GT(fixtures::readFile(sessionPath()).size(), 15360u * 5 + 5000);
    // Loaded back, the session fills the store again, and reports no overflow.
    ASSERT_EQ(LoadSession(sessionPath().c_str()), TLV_LOAD_OK);
    EXPECT_EQ(GetSystemStatus(0), TLV_DSU_SYSTEM_OK);
    EXPECT_EQ(PacketsInBuffer(0), 15360);
  }
}

TEST_F(DsuSession, ACutLineEndsTheSessionInOrderWithEveryByteSaved) {
  SetComPorts(0, 1, 50, kCom - 1);
  // Cut after 600 packets since the simulator started (its port test took
  // some of them).
  DsuSimulator sim(dsutest::kSimulator, kCom, simOptions(14, {"--cut-after", "600"}));
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  ASSERT_TRUE(waitStatus(TLV_DSU_CLOSEDOWN_COMPLETE, 15000)) << "status " << GetSystemStatus(0);
  const auto messages = log();
  EXPECT_EQ(countMatching(messages, "Error Code: -13 returned from PortGets"), 1u);
  EXPECT_EQ(countMatching(messages, "Forcing Instruction = TERMINATE"), 1u);
  EXPECT_EQ(countMatching(messages, "Closing COM5"), 1u);
  // A save that fails keeps the storage for another try.
  const std::string nowhere = root.file("no/such/folder/session.raw");
  EXPECT_EQ(TerminateDSU(0, 1, nowhere.c_str()), TLV_TERMINATE_SAVE_FAILED);
  EXPECT_EQ(countMatching(log(), "Failed to write session data to .*no/such/folder/session.raw"), 1u);
  ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
  EXPECT_EQ(countMatching(log(), "Read thread already terminated\\."), 2u);
  // Everything up to the cut: the file ends with packet 599 of the replay.
  const std::string file = fixtures::readFile(sessionPath());
  const long offset = checkSessionFile(file, 14);
  EXPECT_EQ((offset + static_cast<long>(file.size())) % (kPeriod * 14), 600 * 14);
  EXPECT_EQ(file.size(), static_cast<size_t>(TotalBytesRead(0)));
  EXPECT_FALSE(dsu::wire::isOpen(kCom - 1));
}

TEST_F(DsuSession, EndedWhileScanningItEndsWithinTheBudgetAndANewSessionStarts) {
  // No port at all: status 4, and terminating finds nothing to free.
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SERIAL_PORT_FAILURE));
  EXPECT_EQ(TerminateDSU(0, 0, nullptr), TLV_TERMINATE_OK);
  EXPECT_EQ(countMatching(log(), "Memory not allocated"), 1u);

  // A silent port whose settling time would keep the scan ten seconds.
  fixtures::PtyPair silent;
  silent.linkAsCom(3);
  SetScanPortWaitTime(10000);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(fixtures::waitFor([&] { return countMatching(log(), "Testing COM3") == 1; }, 5000));
  EXPECT_EQ(PauseRecording(0), 0);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_WAITING_FOR_DSU);
  EXPECT_EQ(countMatching(log(), "Pause not actioned. Status is 'Waiting for DSU'"), 1u);
  const auto start = Clock::now();
  EXPECT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
  // Seven waits of 200 ms at most, far from the scan's ten seconds.
  EXPECT_LT(msSince(start), 5000);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_CLOSEDOWN_COMPLETE);
  EXPECT_FALSE(fixtures::pathExists(sessionPath()));  // nothing was recorded
  EXPECT_FALSE(dsu::wire::isOpen(2));

  // Right after it, a session on a DSU.
  SetScanPortWaitTime(20);
  SetComPorts(0, 1, 50, kCom - 1);
  DsuSimulator sim(dsutest::kSimulator, kCom, simOptions(14));
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  EXPECT_EQ(jumps(collect(20), 14), 0);
  EXPECT_EQ(TerminateDSU(0, 0, nullptr), TLV_TERMINATE_OK);
}

TEST_F(DsuSession, UnloadingWithASessionRunningEndsItFirst) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The process ends (its statics go, as at the library's unload) while the
  // read thread scans: it is stopped and joined, not left to abort the host.
  EXPECT_EXIT(
      {
        fixtures::PtyPair silent;
        silent.linkAsCom(3);
        SetScanPortWaitTime(10000);
        InitialiseDSU(0);
        fixtures::waitFor([&] { return countMatching(log(), "Testing COM3") == 1; }, 5000);
        std::exit(GetSystemStatus(0) == TLV_DSU_WAITING_FOR_DSU ? 0 : 3);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(DsuSession, MonitorModeKeepsTheRecordingAsItWas) {
  SetComPorts(0, 1, 50, kCom - 1);
  DsuSimulator sim(dsutest::kSimulator, kCom, simOptions(14));
  // Without a session or monitor storage nothing switches.
  EXPECT_EQ(MonitorMode(TLV_MONITOR_ON), TLV_MONITOR_REFUSED);
  ASSERT_EQ(MonitorMode(TLV_MONITOR_ALLOCATE), TLV_MONITOR_OK);
  EXPECT_EQ(MonitorMode(TLV_MONITOR_ON), TLV_MONITOR_REFUSED);
  EXPECT_EQ(MonitorMode(TLV_RECORD_ON), TLV_MONITOR_REFUSED);
  EXPECT_EQ(countMatching(log(), "No session running - mode unchanged"), 2u);

  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  std::vector<Decoded> taken = collect(30);
  ASSERT_EQ(MonitorMode(TLV_MONITOR_ON), TLV_MONITOR_OK);
  EXPECT_EQ(SetManualButton(0, 0), TLV_BUTTON_MONITOR_MODE);
  EXPECT_EQ(countMatching(log(), "Invalid attempt to insert button in Monitor Mode"), 1u);
  // Counted from after the switch to before the switch back: no more than
  // went to the monitor storage.
  const int32_t monitorFrom = TotalBytesRead(0);
  EXPECT_TRUE(fixtures::waitFor([&] { return TotalBytesRead(0) > monitorFrom + 100 * 14; }, 5000));
  const int32_t monitored = TotalBytesRead(0) - monitorFrom;
  // Releasing the monitor storage under monitor mode goes back to
  // recording first.
  ASSERT_EQ(MonitorMode(TLV_MONITOR_RELEASE), TLV_MONITOR_OK);
  for (auto& d : collect(taken.size() + 130)) taken.push_back(d);
  ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);

  // The recording lacks what went to the monitor storage: one gap of at
  // least those packets; the decoded packets have them all.
  const std::string file = fixtures::readFile(sessionPath());
  const std::vector<Decoded> saved = packetsOf(file, 14);
  EXPECT_EQ(jumps(saved, 14), 1);
  EXPECT_EQ(jumps(taken, 14), 0);
  EXPECT_LE(file.size() + static_cast<size_t>(monitored), static_cast<size_t>(TotalBytesRead(0)));

  // Ended in monitor mode: the monitor storage is saved, from the switch on.
  ASSERT_EQ(MonitorMode(TLV_MONITOR_ALLOCATE), TLV_MONITOR_OK);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  collect(20);
  const int32_t recordedAtMost = TotalBytesRead(0);
  ASSERT_EQ(MonitorMode(TLV_MONITOR_ON), TLV_MONITOR_OK);
  const int32_t recordedAtLeast = TotalBytesRead(0);
  collect(60);
  ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
  const std::string monitorFile = fixtures::readFile(sessionPath());
  checkSessionFile(monitorFile, 14);
  EXPECT_GE(monitorFile.size(), static_cast<size_t>(TotalBytesRead(0) - recordedAtLeast));
  EXPECT_LE(monitorFile.size(), static_cast<size_t>(TotalBytesRead(0) - recordedAtMost));
  EXPECT_GT(monitorFile.size(), 0u);
  EXPECT_EQ(MonitorMode(TLV_RECORD_ON), TLV_MONITOR_REFUSED);
  EXPECT_EQ(MonitorMode(TLV_MONITOR_RELEASE), TLV_MONITOR_OK);
}

TEST_F(DsuSession, TcpRoadWithTheWineHackAndARefusedConnection) {
  DsuSimulator sim(dsutest::kSimulator, DsuSimulator::Tcp {}, simOptions(14));
  ASSERT_EQ(SetDataTransferMode(1, "127.0.0.1", sim.tcpPort(), "", "", "", "", "", ""), TLV_ROAD_TCPIP);
  EXPECT_EQ(WineHack(1), 0);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  EXPECT_EQ(startOf(dsu::statusTrail()), (std::vector<int32_t> {7, 1, 6, 0}));
  // The stream may start mid-packet (the identification report took a
  // piece of it): the decoder finds its frame and decodes no broken packet.
  EXPECT_EQ(jumps(collect(100), 14), 0);
  ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_CLOSEDOWN_COMPLETE);
  const std::string file = fixtures::readFile(sessionPath());
  EXPECT_EQ(file.size(), static_cast<size_t>(TotalBytesRead(0)));
  EXPECT_GE(dsutest::cyclicOffset(replayBytes, file), 0) << "the session file is not what the server sent";
  const auto messages = log();
  EXPECT_EQ(countMatching(messages, "Set WINE_HACK on"), 1u);
  EXPECT_EQ(countMatching(messages, "WINE_HACK Active - Waiting for 500mS and then assume CLOSEDOWN_COMPLETE"), 1u);
  EXPECT_EQ(countMatching(messages, "Processing from IP Address 127.0.0.1"), 1u);
  EXPECT_EQ(countMatching(messages, "Telvaris command 'RING' issued"), 1u);
  EXPECT_EQ(countMatching(messages, "Main Memory Released"), 1u);
  WineHack(0);

  // Nobody listening: status 4 and the address in the log.
  const int closed = fixtures::freeLoopbackPort();
  SetDataTransferMode(1, "127.0.0.1", closed, "", "", "", "", "", "");
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SERIAL_PORT_FAILURE));
  EXPECT_EQ(countMatching(log(), "Failed to connect to 127.0.0.1:" + std::to_string(closed)), 1u);
}

TEST_F(DsuSession, MqttAndRelayRoadsThroughABroker) {
  fixtures::MosquittoBroker broker;
  const char* address = fixtures::MosquittoBroker::kAddress;
  {
    // MQTT: eight packets a message; start and stop payloads on the
    // publish topic, also for a pause.
    DsuSimulator sim(dsutest::kSimulator, broker, "app/publish", "dsu/stream", simOptions(14));
    ASSERT_EQ(SetDataTransferMode(2, address, broker.port(), "trainee", "app/publish", "dsu/stream", "", "", ""),
              TLV_ROAD_MQTT);
    ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
    ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
    EXPECT_EQ(startOf(dsu::statusTrail()), (std::vector<int32_t> {7, 1, 6, 0}));
    std::vector<Decoded> taken = collect(100);
    PauseRecording(0);
    ASSERT_TRUE(sim.waitForOutput("stop: stream stopped"));
    ResumeRecording(0);
    ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
    for (auto& d : collect(50)) taken.push_back(d);
    ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
    EXPECT_LE(jumps(taken, 14), 1);
    // The identification report's stop, the unit brought online (stop,
    // start), the pause, the resume, the end.
    EXPECT_TRUE(sim.waitForReceived(26));
    EXPECT_EQ(sim.received(), "stopstopstartstopstartstop");
    const auto messages = log();
    EXPECT_EQ(countMatching(messages,
                            "Connecting to tcp://127.0.0.1:" + std::to_string(broker.port()) + " for userID trainee"),
              1u);
    EXPECT_EQ(countMatching(messages, "subscribing to dsu/stream"), 1u);
    EXPECT_EQ(countMatching(messages, "Processing via MQTT"), 1u);
    const std::vector<Decoded> saved = packetsOf(fixtures::readFile(sessionPath()), 14);
    ASSERT_GE(saved.size(), taken.size());
    EXPECT_EQ(std::vector<Decoded>(saved.begin(), saved.begin() + static_cast<long>(taken.size())), taken);
  }
  {
    // The relay service sending one message a packet, 256 a second, with a
    // six-second pause in the stream: status 9 while nothing comes, and no
    // packet lost before or after.
    DsuSimulator sim(dsutest::kSimulator, broker, "app/relay", "relay/stream",
                     simOptions(14, {"--packets", "1", "--stall-ms", "6000", "--stall-after", "384"}));
    ASSERT_EQ(
        SetDataTransferMode(3, address, broker.port(), "trainee", "app/relay", "relay/stream", "clinic", "eeg", "v1"),
        TLV_ROAD_RELAY);
    ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
    ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
    ASSERT_TRUE(waitStatus(TLV_DSU_WAITING_FOR_DATA, 15000));
    std::vector<Decoded> taken = dsutest::takePackets();  // nothing while not 0
    ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK, 10000));
    for (auto& d : collect(500)) taken.push_back(d);
    ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);
    const std::vector<Decoded> saved = packetsOf(fixtures::readFile(sessionPath()), 14);
    EXPECT_GE(saved.size(), 500u);
    EXPECT_EQ(jumps(saved, 14), 0);
    EXPECT_EQ(countMatching(log(), "Processing via Pelorvantis"), 1u);
    EXPECT_TRUE(sim.waitForOutput("stop/clinic/eeg/trainee/v1: stream stopped"));
    EXPECT_EQ(sim.received(),
              "stop/clinic/eeg/trainee/v1stop/clinic/eeg/trainee/v1start/clinic/eeg/trainee/v1"
              "stop/clinic/eeg/trainee/v1");
  }
  {
    // Mode 4: the relay service is asked to monitor.
    DsuSimulator sim(dsutest::kSimulator, broker, "app/relay", "relay/stream", simOptions(14));
    ASSERT_EQ(
        SetDataTransferMode(4, address, broker.port(), "trainee", "app/relay", "relay/stream", "clinic", "eeg", "v1"),
        TLV_ROAD_RELAY);
    ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
    ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
    EXPECT_EQ(jumps(collect(30), 14), 0);
    ASSERT_EQ(TerminateDSU(0, 0, nullptr), TLV_TERMINATE_OK);
    EXPECT_TRUE(sim.waitForOutput("monitor/clinic/eeg/trainee/v1: streaming"));
  }
}

TEST_F(DsuSession, AnMqttSessionWhoseBrokerRestartsResumesStoring) {
  fixtures::MosquittoBroker broker;
  DsuSimulator sim(dsutest::kSimulator, broker, "app/publish", "dsu/stream", simOptions(14));
  ASSERT_EQ(SetDataTransferMode(2, fixtures::MosquittoBroker::kAddress, broker.port(), "trainee", "app/publish",
                                "dsu/stream", "", "", ""),
            TLV_ROAD_MQTT);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  std::vector<Decoded> taken = collect(100);

  broker.stop();
  ASSERT_TRUE(waitStatus(TLV_DSU_WAITING_FOR_DATA));
  // Back between the link's second and third try (1 s and 3 s, then 7 s
  // after the loss), so that the simulator, which tries every 200 ms, is
  // listening again before the session asks it for the stream.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  const int32_t before = TotalBytesRead(0);
  broker.start();
  ASSERT_TRUE(sim.waitForOutput("reconnected to"));
  ASSERT_TRUE(fixtures::waitFor([&] { return TotalBytesRead(0) >= before + 14 * 256; }, 20000))
      << "storing did not resume";
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  const size_t beforeRestart = taken.size();
  for (auto& d : collect(256)) taken.push_back(d);
  ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);

  EXPECT_EQ(countMatching(log(), "MQTT link reconnected - sending the start signal again"), 1u);
  // The identification report's stop, the unit brought online (stop,
  // start), the start again after the restart, the end.
  EXPECT_TRUE(sim.waitForReceived(22));
  EXPECT_EQ(sim.received(), "stopstopstartstartstop");
  EXPECT_GT(taken.size(), beforeRestart + 200);
  EXPECT_LE(jumps(taken, 14), 1) << "one gap at most: the packets sent while the broker was away";
  const std::vector<Decoded> saved = packetsOf(fixtures::readFile(sessionPath()), 14);
  ASSERT_GE(saved.size(), taken.size());
  EXPECT_EQ(std::vector<Decoded>(saved.begin(), saved.begin() + static_cast<long>(taken.size())), taken);
}

TEST_F(DsuSession, AfterABrokerRestartTheSessionAsksAgainUntilAUnitThatCameBackLaterStreams) {
  fixtures::MosquittoBroker broker;
  std::optional<DsuSimulator> sim;
  sim.emplace(dsutest::kSimulator, broker, "app/publish", "dsu/stream", simOptions(14));
  ASSERT_EQ(SetDataTransferMode(2, fixtures::MosquittoBroker::kAddress, broker.port(), "trainee", "app/publish",
                                "dsu/stream", "", "", ""),
            TLV_ROAD_MQTT);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  ASSERT_GE(collect(50).size(), 50u);

  // The unit's side is away while the broker restarts, so the start sent on
  // reconnecting reaches nobody; it comes back only afterwards.
  sim.reset();
  broker.stop();
  ASSERT_TRUE(waitStatus(TLV_DSU_WAITING_FOR_DATA));
  broker.start();
  ASSERT_TRUE(fixtures::waitFor(
      [&] { return countMatching(log(), "MQTT link reconnected - sending the start signal again") == 1; }, 15000));
  const int32_t before = TotalBytesRead(0);
  sim.emplace(dsutest::kSimulator, broker, "app/publish", "dsu/stream", simOptions(14));
  ASSERT_TRUE(fixtures::waitFor([&] { return TotalBytesRead(0) >= before + 14 * 256; }, 20000))
      << "storing did not resume";
  const size_t retries = countMatching(log(), "No data since the MQTT link reconnected - sending the start signal again");
  ASSERT_EQ(TerminateDSU(0, 0, nullptr), TLV_TERMINATE_OK);
  EXPECT_GE(retries, 1u);
  // Once the stream flows the session stops asking.
  EXPECT_EQ(countMatching(log(), "No data since the MQTT link reconnected - sending the start signal again"), retries);
  EXPECT_TRUE(sim->waitForReceived(9));
  EXPECT_EQ(sim->received(), "startstop");
}

TEST_F(DsuSession, AnMqttSessionLogsTheBytesItsFullReceiveQueueLost) {
  // 25 MiB in 256 KiB messages while the session sleeps 10 s after a read:
  // more than the link's queue holds (16 MiB) arrives between two reads
  // however slow the machine. Every byte published is then either stored
  // (the session file) or lost (the log says how many).
  constexpr size_t kMessage = 256 * 1024;
  constexpr int kMessages = 100;
  SetRecordingLength(150);  // 32 MB: room for all of it
  fixtures::MosquittoBroker broker;
  ASSERT_EQ(SetDataTransferMode(2, fixtures::MosquittoBroker::kAddress, broker.port(), "trainee", "app/publish",
                                "dsu/stream", "", "", ""),
            TLV_ROAD_MQTT);
  ReadDelay(10000);
  const uint64_t droppedBefore = net::mqtt::droppedBytes();
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(broker.waitForSubscription("trainee"));
  // The session's own link publishes, through the broker, to the topic it
  // takes the stream from.
  for (int i = 0; i < kMessages; ++i) {
    const std::string payload(kMessage, static_cast<char>('A' + i % 26));
    ASSERT_EQ(publishToMQTTConnectionWithLength("dsu/stream", payload.data(), static_cast<int32_t>(payload.size())), 0);
  }
  const uint64_t published = uint64_t {kMessage} * kMessages;
  ReadDelay(100);
  // Everything has come: stored, or pushed out of the queue.
  ASSERT_TRUE(fixtures::waitFor(
      [&] { return static_cast<uint64_t>(TotalBytesRead(0)) + net::mqtt::droppedBytes() - droppedBefore >= published; },
      60000));
  ASSERT_EQ(TerminateDSU(0, 1, sessionPath().c_str()), TLV_TERMINATE_OK);

  long long lost = -1;
  const std::regex line("MQTT receive queue full - ([0-9]+) bytes lost since the session started");
  for (const std::string& message : log()) {
    std::smatch m;
    if (std::regex_match(message, m, line)) lost = std::stoll(m[1]);
  }
  ASSERT_GT(lost, 0) << "no loss logged";
  const long long stored = static_cast<long long>(fixtures::readFile(sessionPath()).size());
  EXPECT_EQ(stored + lost, static_cast<long long>(published)) << stored << " stored, " << lost << " lost";
}

TEST_F(DsuSession, AnMqttConnectThatHangsIsLeftToEndAndTheNextSessionWaitsForIt) {
  SilentBroker silent(4000);
  ASSERT_EQ(
      SetDataTransferMode(2, "tcp://127.0.0.1", silent.port(), "trainee", "app/publish", "dsu/stream", "", "", ""),
      TLV_ROAD_MQTT);
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(fixtures::waitFor([&] { return countMatching(log(), "Connecting to tcp://127.0.0.1:.*") == 1; }, 5000));
  const auto start = Clock::now();
  EXPECT_EQ(TerminateDSU(0, 0, nullptr), TLV_TERMINATE_OK);
  EXPECT_LT(msSince(start), 3500);
  EXPECT_EQ(countMatching(log(), "Read thread still connecting - it ends by itself"), 1u);
  // Still inside the connect: a new session is refused, nothing changes.
  EXPECT_EQ(InitialiseDSU(0), TLV_INIT_NOT_STARTED);
  EXPECT_EQ(GetSystemStatus(0), TLV_DSU_WAITING_FOR_DSU);

  // The connect returns when the broker drops it; the thread ends without
  // taking storage, and the next session starts.
  ASSERT_TRUE(waitStatus(TLV_DSU_CLOSEDOWN_COMPLETE, 15000));
  EXPECT_TRUE(silent.dropped());
  EXPECT_EQ(countMatching(log(), "Allocating main storage: .*"), 0u);
  fixtures::MosquittoBroker broker;
  DsuSimulator sim(dsutest::kSimulator, broker, "app/publish", "dsu/stream", simOptions(14));
  SetDataTransferMode(2, fixtures::MosquittoBroker::kAddress, broker.port(), "trainee", "app/publish", "dsu/stream", "",
                      "", "");
  ASSERT_EQ(InitialiseDSU(0), TLV_INIT_STARTED);
  ASSERT_TRUE(waitStatus(TLV_DSU_SYSTEM_OK));
  EXPECT_EQ(jumps(collect(20), 14), 0);
  EXPECT_EQ(TerminateDSU(0, 0, nullptr), TLV_TERMINATE_OK);
}

}  // namespace
