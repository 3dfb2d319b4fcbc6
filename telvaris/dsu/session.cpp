#include "dsu/session.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "boundary.h"
#include "dsu/data_road.h"
#include "dsu/debug_log.h"
#include "dsu/dsu_commands.h"
#include "dsu/link_settings.h"
#include "dsu/port_scan.h"
#include "dsu/recording.h"
#include "dsu/serial_wire.h"
#include "dsu/session_state.h"
#include "dsu/stop_token.h"
#include "dsu/transfer_mode.h"
#include "net/mqtt_log.h"
#include "platform/clock.h"
#include "serial/comports.h"
#include "telvaris.h"

namespace dsu {
namespace {

// TerminateDSU's patience: seven waits of 200 ms.
constexpr int kCloseDownWaits = 7;
constexpr auto kCloseDownWait = std::chrono::milliseconds(200);
constexpr uint32_t kWineHackWaitMs = 500;
constexpr uint32_t kSignalSettleMs = 100;
constexpr uint32_t kLossLogIntervalMs = 1000;
// After a reconnect, the least time between two start signals while nothing
// arrives (an empty read of an MQTT road itself waits up to 5 s).
constexpr uint32_t kStartRetryMs = 3000;

// Sets `instruction` from the read thread's side (or a pause's): never
// over a TERMINATE, which only a new session takes back.
void instructUnlessTerminating(SessionState& s, int32_t instruction) {
  int32_t current = s.instruction;
  while (current != kTerminate && !s.instruction.compare_exchange_weak(current, instruction)) {
  }
}

void writeStatistics(SessionState& s) {
  log("Final System Status: %d\n", s.dsuStatus.load());
  log("Bytes read: %d\n", s.totalBytesRead.load());
  const int32_t packets = s.tally.packetsDecoded;
  log("Total Packets: %d\n", packets);
  const double seconds = s.elapsedTicks / 1000.0;
  if (seconds > 0) {
    log("Nominal Packets Per Second: %f\n", packets / seconds);
  } else {
    log("Error calculating packets per second\n");
  }
  log("Errors: %d\n", s.tally.positioningErrors.load());
  log("Reads: %d\n", s.reads.load());
}

// Main storage and the decoded packet store, as step 5 and 6 of the thread
// take them. False when either cannot be had (status 3, nothing kept).
bool allocateStorage(SessionState& s) {
  setStatus(kAllocatingMemory);
  s.memoryStatus = 1;
  const int32_t size = s.memorySize;
  log("Allocating main storage: %d\n", size);
  auto* storage = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1));
  if (!storage) {
    setStatus(kAllocationFailure);
    log("Failed to allocate memory\n");
    return false;
  }
  log("%d bytes of memory allocated\n", size);
  log("Allocating %d P3 Buffers\n", kP3Channels);
  if (!s.store.allocate(s.numberOfElements)) {
    log("Error: Failed to allocate P3 buffer memory\n");
    setStatus(kAllocationFailure);
    std::free(storage);
    log("Failed to allocate decoded P3 memory\n");
    log("Freed main storage\n");
    return false;
  }
  log("P3 buffers successfully allocated\n");
  {
    std::lock_guard lock(s.storageMutex);
    s.mainStorage = storage;
    s.mainSize = static_cast<size_t>(size);
    s.positions = StoragePositions {storage, 0, 0, static_cast<size_t>(size)};
  }
  setStatus(kSystemOk);
  s.memoryStatus = 0;
  log("Pre-flight Check: System status code: %d, Memory status code: %d\n", s.dsuStatus.load(), s.memoryStatus.load());
  return true;
}

// The 512 Hz request, the identification report and the start signal; each
// step is skipped once the session is told to end.
void bringOnline(SessionState& s, DataRoad& road, StopToken& stop) {
  const int32_t port = road.port();
  if (linkSettings().rate512Requested == 1 && !stop.requested()) switchTo512Hz(port, stop);
  if (!stop.requested()) {
    ReplyReader replies = road.replies(s.receiveBuffer.data(), s.receiveBuffer.size());
    identificationReport(port, replies, stop);
  }
  if (stop.requested()) return;
  log("Bringing encoder online\n");
  sendStopSignal(port, stop);
  if (!stop.sleepFor(kSignalSettleMs)) return;
  switch (road.mode()) {
    case kSerial:
      log("Flushing Receiver Unit\n");
      sendStopSignal(port, stop);
      if (!stop.sleepFor(kSignalSettleMs)) return;
      sendStartSignal(port, stop);
      break;
    case kTcpIp:
      if (!stop.sleepFor(kSignalSettleMs)) return;
      sendCommand(port, "RING", 4, stop);
      break;
    default:
      sendStartSignal(port, stop);
      break;
  }
}

// What one read brought: stored and decoded, discarded (paused), or the
// end of storage. Under the storage lock, so a monitor switch falls between
// two reads. True when the read delay follows.
bool storeRead(SessionState& s, int32_t got) {
  std::lock_guard lock(s.storageMutex);
  StoragePositions& at = s.positions;
  if (got > 0 && at.writeEnd + static_cast<size_t>(got) > at.limit) {
    setStatus(kEndOfMemory);
    s.outOfMemoryFlag = 1;
    log("Out of memory - buffer too small or recording too long\n");
    instructUnlessTerminating(s, kPause);
    return false;
  }
  const int32_t instruction = s.instruction;
  if (got < 1) {
    // A paused unit sends nothing: that is no wait for data.
    if (instruction == kRun) setStatus(kWaitingForData);
    return true;
  }
  if (instruction == kPause) return true;  // read and let go
  std::memcpy(at.base + at.writeEnd, s.receiveBuffer.data(), static_cast<size_t>(got));
  at.writeEnd += static_cast<size_t>(got);
  s.totalBytesRead += got;
  setStatus(kSystemOk);
  ByteRun run {at.base, at.parse, at.writeEnd};
  if (decodeP3(run, linkSettings().packetLength, s.store, s.tally, s.buttonRequest) == kDecodeStoreFull &&
      s.outOfMemoryFlag == 0) {
    // The bytes are still stored (and saved); only decoding stops.
    s.outOfMemoryFlag = 1;
    log("Decoded packet store full - packets are no longer decoded\n");
  }
  at.parse = run.parse;
  return true;
}

// A link that came back after a loss (a broker restart) may have lost the
// stream with it: the broker forgets who asked for it, and so may the unit's
// side. The session asks again, unless it is paused (a resume asks then).
// The unit's side may come back later than this link, and the start sent on
// reconnecting then reaches nobody: until bytes arrive, the session asks
// again on each empty read, at most every kStartRetryMs.
struct StartAfterReconnect {
  bool awaitingData = false;
  uint32_t sentAtMs = 0;
};

void askAgainAfterReconnect(SessionState& s, DataRoad& road, StopToken& stop, int32_t got,
                            StartAfterReconnect& ask) {
  const bool cameBack = road.linkCameBack();
  if (got > 0 || s.instruction != kRun) ask.awaitingData = false;
  if (s.instruction != kRun) return;
  const uint32_t now = platform::tickMs();
  if (cameBack) {
    log("MQTT link reconnected - sending the start signal again\n");
  } else if (ask.awaitingData && got < 1 && now - ask.sentAtMs >= kStartRetryMs) {
    log("No data since the MQTT link reconnected - sending the start signal again\n");
  } else {
    return;
  }
  sendStartSignal(road.port(), stop);
  ask.awaitingData = true;
  ask.sentAtMs = now;
}

// Bytes the MQTT link's full receive queue pushed out during the session:
// logged when the count grew, at most once a second, and at the end.
struct LossLog {
  uint64_t logged = 0;
  uint32_t atMs = 0;
};

void logLostBytes(const DataRoad& road, LossLog& loss, bool final) {
  const uint64_t lost = road.bytesLost();
  if (lost == loss.logged) return;
  const uint32_t now = platform::tickMs();
  if (!final && loss.logged != 0 && now - loss.atMs < kLossLogIntervalMs) return;
  log("MQTT receive queue full - %llu bytes lost since the session started\n", static_cast<unsigned long long>(lost));
  loss.logged = lost;
  loss.atMs = now;
}

void finishThread(SessionState& s) {
  {
    std::lock_guard lock(s.endMutex);
    s.threadRunning = false;
  }
  s.threadEnded.notify_all();
}

// An end before streaming: because the session was told to end, or
// because the road or the storage failed (the status says which).
void endEarly(SessionState& s, DataRoad& road, StopToken& stop) {
  road.close();
  if (stop.requested()) {
    log("Terminating 'read' thread\n");
    setStatus(kCloseDownComplete);
  }
  finishThread(s);
}

void readThread(SessionState& s) {
  StopToken& stop = sessionStop();
  setStatus(kWaitingForDsu);
  s.memoryStatus = 1;
  s.batteryStatus = 1;
  s.totalBytesRead = 0;
  log("Thread created\n");

  DataRoad road(transferSettings());
  const DataRoad::Opened opened = road.open(stop);
  if (opened != DataRoad::Opened::kOpen) {
    if (opened == DataRoad::Opened::kNoDsu) setStatus(kSerialPortFailure);
    endEarly(s, road, stop);
    return;
  }
  if (road.mode() == kSerial) setSendingMode(1);
  road.logProcessing();
  // A session told to end meanwhile takes no storage.
  if (stop.requested() || !allocateStorage(s)) {
    endEarly(s, road, stop);
    return;
  }
  bringOnline(s, road, stop);

  const uint32_t start = platform::tickMs();
  s.elapsedTicks = static_cast<int32_t>(start);
  LossLog loss;
  StartAfterReconnect ask;
  for (;;) {
    if (s.instruction == kTerminate || stop.requested()) {
      log("Terminating 'read' thread\n");
      break;
    }
    bool endSession = false;
    const int32_t got = road.read(s.receiveBuffer.data(), kReceiveBufferSize, stop, endSession);
    if (endSession) s.instruction = kTerminate;
    ++s.reads;
    s.lastReadLength = got;
    if (loggingOn() && debugLevel() == 1) log("Device returned %d bytes\n", got);
    const bool stored = storeRead(s, got);
    askAgainAfterReconnect(s, road, stop, got, ask);
    logLostBytes(road, loss, false);
    if (stored) stop.sleepFor(static_cast<uint32_t>(std::max<int32_t>(linkSettings().readDelayMs, 0)));
  }
  s.elapsedTicks = static_cast<int32_t>(platform::tickMs() - start);
  logLostBytes(road, loss, true);

  // The closing stop signal keeps its byte pacing however the session ends.
  const int32_t status = s.dsuStatus;
  if (status != kWaitingForDsu && status != kWaitingForData) sendStopSignal(road.port(), StopToken::never());
  road.close();
  if (loggingOn()) {
    if (road.mode() == kSerial) log("Closing COM%d\n", road.port() + 1);
    writeStatistics(s);
  }
  setStatus(kCloseDownComplete);
  finishThread(s);
}

// No exception may leave the thread. What can throw is a small allocation
// for the road (its settings, its connection) when memory runs out: the
// session then ends with status 3, and storage it holds goes with the next
// TerminateDSU or InitialiseDSU.
void runReadThread(SessionState& s) noexcept {
  try {
    readThread(s);
  } catch (...) {
    log("Failed to allocate memory\n");
    setStatus(kAllocationFailure);
    finishThread(s);
  }
}

// Waits up to `wait` for the read thread to finish; true when it has.
bool waitForThreadEnd(SessionState& s, std::chrono::milliseconds wait) {
  std::unique_lock lock(s.endMutex);
  return s.threadEnded.wait_for(lock, wait, [&] { return !s.threadRunning.load(); });
}

}  // namespace

SessionState::SessionState() {
  // What the read thread uses is built before this state, so that it goes
  // after it: at unload the thread is stopped here while all of it is whole.
  linkSettings();
  sessionStop();
  StopToken::never();
  loggingOn();
  transferMode();
  wire::isOpen(0);
  int32_t numbers[kMaxCandidates];
  candidates(numbers);
  comports::PortInfo(0, 'O');
  net::mqttlog::line("%s", "");
}

SessionState::~SessionState() {
  if (thread.joinable()) {
    // Unloaded with a session running: it ends as TerminateDSU would end it.
    // (On Windows the running thread keeps the library loaded, so this comes
    // only at the process's end, when the thread is gone already.)
    instruction = kTerminate;
    sessionStop().request();
    thread.join();
  }
  std::free(mainStorage);
  std::free(monitorStorage);
}

SessionState& sessionState() {
  static SessionState s;
  return s;
}

void setStatus(int32_t status) {
  SessionState& s = sessionState();
  if (s.dsuStatus.exchange(status) == status) return;
  const uint32_t at = s.trailLength.fetch_add(1);
  if (at < kStatusTrailLength) s.trail[at] = static_cast<int8_t>(status);
}

bool readThreadRunning() { return sessionState().threadRunning; }

bool joinFinishedThread() {
  SessionState& s = sessionState();
  if (s.threadRunning) return false;
  if (s.thread.joinable()) s.thread.join();
  return true;
}

void releaseSessionStorage() {
  SessionState& s = sessionState();
  std::lock_guard lock(s.storageMutex);
  if (s.monitorMode == 1) {
    s.positions = s.savedPositions;
    s.monitorMode = 0;
  }
  s.store.release();
  std::free(s.mainStorage);
  s.mainStorage = nullptr;
  s.mainSize = 0;
  s.positions = StoragePositions {};
  s.savedPositions = StoragePositions {};
  s.memoryStatus = 1;
}

int32_t initialiseDsu() {
  SessionState& s = sessionState();
  if (!joinFinishedThread()) {
    log("Read thread of the last session still running - not initialising\n");
    return TLV_INIT_NOT_STARTED;
  }
  startLogIfPresent();
  if (s.mainStorage || s.store.allocated()) {
    releaseSessionStorage();
    log("Storage of an earlier session released\n");
  }
  s.outOfMemoryFlag = 0;
  sessionStop().reset();
  log("Initialising DSU\n");
  s.instruction = kRun;
  // The trail starts afresh with this session's first status.
  s.dsuStatus = kInitialisingDsu;
  s.trail[0] = static_cast<int8_t>(kInitialisingDsu);
  s.trailLength = 1;
  log("Creating DSU read thread\n");
  s.threadRunning = true;
  if (!s.thread.start([&s] { runReadThread(s); })) {
    // No thread (none to be had, or no memory for it): none runs.
    s.threadRunning = false;
    log("Cannot create Telvaris thread\n");
    return TLV_INIT_NOT_STARTED;
  }
  return TLV_INIT_STARTED;
}

int32_t terminateDsu(int32_t saveSession, const char* sessionPath) {
  SessionState& s = sessionState();
  log("Received terminate command\n");
  const bool running = !joinFinishedThread();
  if (!running && s.memoryStatus != 0) {
    log("Memory not allocated\n");
    return TLV_TERMINATE_OK;
  }
  if (s.dsuStatus == kCloseDownComplete) {
    log("Read thread already terminated.\n");
  } else {
    log("Issuing terminate command\n");
    s.instruction = kTerminate;
  }
  if (running) {
    s.instruction = kTerminate;
    sessionStop().request();  // every wait of the thread ends now
    if (s.wineHack == 1) {
      log("WINE_HACK Active - Waiting for 500mS and then assume CLOSEDOWN_COMPLETE\n");
      platform::sleepMs(kWineHackWaitMs);
      // Storage goes only once the thread cannot touch it.
      waitForThreadEnd(s, kCloseDownWaits * kCloseDownWait);
    } else {
      for (int i = 0; i < kCloseDownWaits && s.threadRunning; ++i) {
        log("Waiting for closedown - system status = %d, Instruction = %d\n", s.dsuStatus.load(), s.instruction.load());
        waitForThreadEnd(s, kCloseDownWait);
      }
    }
    if (!joinFinishedThread()) {
      // Only an MQTT connect outlasts the waits; the thread ends right
      // after it without taking storage, and the next InitialiseDSU joins it.
      log("Read thread still connecting - it ends by itself\n");
      return TLV_TERMINATE_OK;
    }
    if (s.memoryStatus != 0) {
      log("Memory not allocated\n");
      return TLV_TERMINATE_OK;
    }
  }
  if (saveSession == 1) {
    StoragePositions at;
    {
      std::lock_guard lock(s.storageMutex);
      at = s.positions;
    }
    if (!writeSessionFile(at.base, at.writeEnd, sessionPath)) return TLV_TERMINATE_SAVE_FAILED;
  }
  releaseSessionStorage();
  log("P3 pointer fields released\n");
  log("P3 pointer buffer released\n");
  log("Main Memory Released\n");
  return TLV_TERMINATE_OK;
}

int32_t pauseRecording() {
  SessionState& s = sessionState();
  if (s.dsuStatus == kCloseDownComplete) {
    log("Ignoring 'Pause' request - Closdown complete\n");
    return 0;
  }
  log("Pausing recording (Sending 'NO CARRIER')\n");
  const int32_t status = s.dsuStatus;
  if (status == kWaitingForDsu) {
    log("Pause not actioned. Status is 'Waiting for DSU'\n");
    return 0;
  }
  if (status == kWaitingForData) {
    log("Pause not actioned. Status is 'Waiting for DATA'\n");
    return 0;
  }
  log("System Status code is %d\n", status);
  sendStopSignal(linkSettings().activeComPort, StopToken::never());
  // Between two reads: a read stored before the pause cannot put its
  // status over the pause's.
  std::lock_guard lock(s.storageMutex);
  instructUnlessTerminating(s, kPause);
  setStatus(kDsuPaused);
  return 0;
}

int32_t resumeRecording() {
  SessionState& s = sessionState();
  log("Resuming recording (Sending 'RING')\n");
  s.batteryStatus = 1;
  sendStartSignal(linkSettings().activeComPort, StopToken::never());
  std::lock_guard lock(s.storageMutex);
  instructUnlessTerminating(s, kRun);
  return 0;
}

int32_t systemStatus() {
  const SessionState& s = sessionState();
  return s.outOfMemoryFlag != 0 ? int32_t {kEndOfMemory} : s.dsuStatus.load();
}

int32_t bufferLength() { return sessionState().lastReadLength; }

int32_t packetsInBuffer() {
  const SessionState& s = sessionState();
  return s.store.writeIndex - s.store.readIndex;
}

int32_t totalBytesRead() { return sessionState().totalBytesRead; }

int32_t batteryStatus() { return sessionState().batteryStatus; }

int32_t setWineHack(int32_t flag) {
  sessionState().wineHack = flag != 0 ? 1 : 0;
  log("%s", flag != 0 ? "Set WINE_HACK on\n" : "Set WINE_HACK off\n");
  return 0;
}

const char* statusName(int32_t status) { return tlvDsuStatusName(status); }

std::vector<int32_t> statusTrail() {
  const SessionState& s = sessionState();
  const uint32_t n = std::min<uint32_t>(s.trailLength, kStatusTrailLength);
  std::vector<int32_t> out;
  out.reserve(n);
  for (uint32_t i = 0; i < n; ++i) out.push_back(s.trail[i]);
  return out;
}

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL InitialiseDSU(int32_t /*reserved*/) {
  return telvaris::atBoundary(int32_t {TLV_INIT_NOT_STARTED}, [] { return dsu::initialiseDsu(); });
}

TLV_API int32_t TLV_CALL TerminateDSU(int32_t /*reserved*/, int32_t saveSession, const char* sessionPath) {
  return telvaris::atBoundary(int32_t {TLV_TERMINATE_SAVE_FAILED},
                              [&] { return dsu::terminateDsu(saveSession, sessionPath); });
}

TLV_API int32_t TLV_CALL PauseRecording(int32_t /*reserved*/) { return dsu::pauseRecording(); }

TLV_API int32_t TLV_CALL ResumeRecording(int32_t /*reserved*/) { return dsu::resumeRecording(); }

TLV_API int32_t TLV_CALL GetSystemStatus(int32_t /*reserved*/) { return dsu::systemStatus(); }

TLV_API int32_t TLV_CALL BufferLength(int32_t /*reserved*/) { return dsu::bufferLength(); }

TLV_API int32_t TLV_CALL PacketsInBuffer(int32_t /*reserved*/) { return dsu::packetsInBuffer(); }

TLV_API int32_t TLV_CALL TotalBytesRead(int32_t /*reserved*/) { return dsu::totalBytesRead(); }

TLV_API int32_t TLV_CALL BatteryStatus(void) { return dsu::batteryStatus(); }

TLV_API int32_t TLV_CALL WineHack(int32_t flag) { return dsu::setWineHack(flag); }

}  // extern "C"
