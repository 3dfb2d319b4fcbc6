#include "dsu/dsu_commands.h"

#include <cstring>
#include <string>

#include "boundary.h"
#include "dsu/debug_log.h"
#include "dsu/link_settings.h"
#include "dsu/serial_wire.h"
#include "dsu/transfer_mode.h"
#include "net/mqtt_link.h"
#include "telvaris.h"

namespace dsu {
namespace {

constexpr uint32_t kBytePauseMs = 5;
constexpr uint8_t kSingleStepStart = 0x02;
constexpr uint8_t kBurstStart = 0x01;
constexpr uint8_t kEnd = 0x0A;

enum class Signal { kStop, kStart };

// One byte on the wire; a failure is reported and kept in `firstFailure`.
bool putByte(int32_t port, uint8_t byte, int32_t& firstFailure) {
  const int32_t result = wire::send(port, &byte, 1);
  if (result >= 0) return true;
  reportError(result);
  if (firstFailure == 0) firstFailure = result;
  return false;
}

int32_t putSerialSignal(Signal signal, int32_t port, StopToken& stop) {
  int32_t firstFailure = 0;
  if (signal == Signal::kStop) {
    // What is still queued either way belongs to the stream being stopped.
    for (int32_t result : {wire::flushTx(port), wire::flushRx(port)}) {
      if (result < 0 && firstFailure == 0) firstFailure = reportError(result);
    }
  }
  const char* text = signal == Signal::kStop ? "NO C" : "RING";
  uint8_t bytes[6] = {kSingleStepStart, 0, 0, 0, 0, kEnd};
  std::memcpy(bytes + 1, text, 4);
  if (linkSettings().earlyV3 == 1) bytes[0] = kEnd;
  for (uint8_t b : bytes) {
    putByte(port, b, firstFailure);
    stop.sleepFor(kBytePauseMs);
  }
  return firstFailure < 0 ? TLV_DSU_PORT_FAILED : TLV_DSU_OK;
}

int32_t publishSignal(Signal signal, StopToken& stop) {
  return telvaris::atBoundary(int32_t {TLV_DSU_NO_MEMORY}, [&] {
    const TransferSettings road = transferSettings();
    const std::string& payload = signal == Signal::kStop ? road.stopPayload : road.startPayload;
    const int32_t result =
        net::mqtt::publishBytes(road.publishTopic.c_str(), payload.data(), static_cast<int32_t>(payload.size()));
    if (signal == Signal::kStart) stop.sleepFor(kBytePauseMs);
    return result == 0 ? int32_t {TLV_DSU_OK} : int32_t {TLV_DSU_PORT_FAILED};
  });
}

int32_t sendSignal(Signal signal, int32_t port, StopToken& stop) {
  log("%s", signal == Signal::kStop ? "Sending 'NO CARRIER'\n" : "Sending 'RING'\n");
  switch (transferMode()) {
    case kSerial:
      return putSerialSignal(signal, port, stop);
    case kMqtt:
    case kRelay:
      return publishSignal(signal, stop);
    default:
      return TLV_DSU_OK;  // TCP/IP: the peer streams unasked
  }
}

// A whole frame of its own, one byte a write, 5 ms after each: the
// protocol and time-base frames of SetDSUProtocol.
int32_t putFrame(int32_t port, const char* six, StopToken& stop) {
  int32_t firstFailure = 0;
  uint8_t bytes[8] = {kSingleStepStart, 0, 0, 0, 0, 0, 0, kEnd};
  std::memcpy(bytes + 1, six, 6);
  for (uint8_t b : bytes) {
    putByte(port, b, firstFailure);
    stop.sleepFor(kBytePauseMs);
  }
  return firstFailure;
}

}  // namespace

int32_t sendCommand(int32_t port, const char* command, int32_t length, StopToken& stop) {
  if (!command || length < 0) return TLV_DSU_BAD_ARGUMENT;
  const int32_t n = static_cast<int32_t>(strnlen(command, static_cast<size_t>(length)));
  const int32_t mode = transferMode();
  if (mode == kMqtt || mode == kRelay) {
    log("BT_SENDDATA Doesn't support MQTT. '%.*s' ignored\n", n, command);
    return TLV_DSU_OK;
  }
  log("Telvaris command '%.*s' issued\n", n, command);
  if (mode != kSerial) return TLV_DSU_OK;

  int32_t firstFailure = 0;
  if (linkSettings().sendingMode != 0) {
    bool failed = !putByte(port, kSingleStepStart, firstFailure);
    stop.sleepFor(kBytePauseMs);
    for (int32_t i = 0; i < n; ++i) {
      if (!failed) failed = !putByte(port, static_cast<uint8_t>(command[i]), firstFailure);
      stop.sleepFor(kBytePauseMs);
    }
    putByte(port, kEnd, firstFailure);
    stop.sleepFor(kBytePauseMs);
  } else {
    putByte(port, kBurstStart, firstFailure);
    if (n > 0) {
      const int32_t result = wire::send(port, command, n);
      if (result < 0 && firstFailure == 0) firstFailure = result;
      reportError(result);
    }
    putByte(port, kEnd, firstFailure);
  }
  return firstFailure < 0 ? TLV_DSU_PORT_FAILED : TLV_DSU_OK;
}

int32_t sendStopSignal(int32_t port, StopToken& stop) { return sendSignal(Signal::kStop, port, stop); }
int32_t sendStartSignal(int32_t port, StopToken& stop) { return sendSignal(Signal::kStart, port, stop); }

int32_t sendSerialStopSignal(int32_t port, StopToken& stop) {
  log("Sending 'NO CARRIER'\n");
  return putSerialSignal(Signal::kStop, port, stop);
}

int32_t sendSerialStartSignal(int32_t port, StopToken& stop) {
  log("Sending 'RING'\n");
  return putSerialSignal(Signal::kStart, port, stop);
}

int32_t openAndSetUp(int32_t port) {
  int32_t result = wire::open(port);
  if (result < 0) return reportError(result);
  const LinkSettings& s = linkSettings();
  if ((result = wire::parms(port, 0, 0, 8)) >= 0 && (result = wire::baud(port, s.baudCode)) >= 0 &&
      (result = wire::dtr(port, 'S')) >= 0 && (result = wire::rts(port, 'S')) >= 0) {
    return 0;
  }
  reportError(result);
  wire::close(port);
  return result;
}

int32_t programDsu(int32_t command, int32_t value, int32_t persist) {
  const int32_t port = linkSettings().hintPort;
  log("Accessing Telvaris on port %d\n", port + 1);
  if (openAndSetUp(port) < 0) return TLV_DSU_PORT_FAILED;
  StopToken& pace = StopToken::never();
  int32_t failure = sendStopSignal(port, pace);

  // The port is closed on every way out, so the next programDSU, scan or
  // session can open it again.
  auto finish = [&](int32_t result) {
    wire::close(port);
    log("Closing Telvaris on port %d\n", port + 1);
    return result;
  };
  auto send = [&](const char* text) {
    const int32_t r = sendCommand(port, text, static_cast<int32_t>(std::strlen(text)), pace);
    if (r < 0 && failure == 0) failure = r;
  };

  if (command == 1) {
    char code;
    switch (value) {
      case 2:
        code = '0';
        break;
      case 4:
        code = '1';
        break;
      case 6:
        code = '2';
        break;
      case 8:
        code = '3';
        break;
      default:
        log("Invalid channel value '%d' passed to ProgramDSU\n", value);
        return finish(TLV_DSU_BAD_CHANNELS);
    }
    char set[] = {'W', '9', '7', '1', '0', code, '\0'};
    char store[] = {'W', 'A', '0', '0', '0', code, '\0'};
    send(set);
    if (persist == 1) send(store);
    log("Active channels altered to %d\n", value);
  } else if (command == 2) {
    char code;
    switch (value) {
      case 256:
        code = '8';
        break;
      case 512:
        code = '4';
        break;
      case 1024:
        code = '2';
        break;
      case 2048:
        code = '1';
        break;
      default:
        log("Invalid Sample Rate %d passed to ProgramDSU\n", value);
        return finish(TLV_DSU_BAD_RATE);
    }
    char set[] = {'W', '9', 'A', '0', '0', code, '\0'};
    char store[] = {'W', 'A', '0', '1', '0', code, '\0'};
    send(set);
    if (persist == 1) send(store);
    log("Sample Rate altered to %d\n", value);
  } else {
    log("Unknown Command '%d' passed to ProgramDSU\n", command);
    return finish(TLV_DSU_UNKNOWN_COMMAND);
  }
  return finish(failure < 0 ? TLV_DSU_PORT_FAILED : TLV_DSU_OK);
}

int32_t setDsuProtocol(int32_t protocol) {
  const int32_t port = linkSettings().hintPort;
  log("Setting protocol to=%d on COM%d\n", protocol, port + 1);
  const int32_t opened = openAndSetUp(port);
  if (opened < 0) {
    log("Failed to communicate with DSU. RC=%d\n", opened);
    return TLV_DSU_PORT_FAILED;
  }
  StopToken& pace = StopToken::never();
  int32_t failure = sendStopSignal(port, pace);
  const char* protocolFrame = protocol == 2 ? "WA0008" : protocol == 3 ? "WA0009" : "WA0003";
  const char* timeBaseFrame = protocol == 3 ? "WA0180" : "WA0108";
  log("Altering Protocol type: %s\n", protocolFrame);
  const int32_t a = putFrame(port, protocolFrame, pace);
  log("Altering TimeBase: %s\n", timeBaseFrame);
  const int32_t b = putFrame(port, timeBaseFrame, pace);
  // The port stays open, as callers have known it to; the library's next
  // open of it closes it first.
  return (failure < 0 || a < 0 || b < 0) ? TLV_DSU_PORT_FAILED : TLV_DSU_OK;
}

void switchTo512Hz(int32_t port, StopToken& stop) {
  log("Setting Number of active channels to 6 (packet length = 11)\n");
  sendCommand(port, "W97102", 6, stop);
  stop.sleepFor(kBytePauseMs);
  log("Setting DSU sample rate to 512SPS\n");
  sendCommand(port, "W9A004", 6, stop);
  stop.sleepFor(kBytePauseMs);
}

ReplyReader serialReplies(int32_t port, uint8_t* buffer, size_t capacity) {
  ReplyReader reader;
  reader.buffer = buffer;
  reader.capacity = capacity;
  reader.receive = [port](uint8_t* into, size_t size) {
    const int32_t limit =
        size > static_cast<size_t>(kReceiveQueueSize) ? kReceiveQueueSize : static_cast<int32_t>(size);
    return reportError(wire::gets(port, into, limit));
  };
  return reader;
}

namespace {

// Issues a query, waits for the answer and takes it: the byte count, or 0
// for none. -1 when the session is ending.
int32_t query(int32_t port, const char* text, uint32_t waitMs, ReplyReader& replies, StopToken& stop) {
  sendCommand(port, text, static_cast<int32_t>(std::strlen(text)), stop);
  if (!stop.sleepFor(waitMs)) return -1;
  if (!replies.receive) return static_cast<int32_t>(replies.capacity);
  const int32_t got = replies.receive(replies.buffer, replies.capacity);
  return got > 0 ? got : 0;
}

// A reply of the register-query layout: byte 1 'A', byte 2 the register's
// first character, value characters at 5 and 6.
bool replyFor(const ReplyReader& replies, int32_t got, char registerStart) {
  return got >= 7 && replies.buffer[1] == 'A' && replies.buffer[2] == static_cast<uint8_t>(registerStart);
}

}  // namespace

void identificationReport(int32_t port, ReplyReader& replies, StopToken& stop) {
  if (!loggingOn() || !replies.buffer) return;
  const uint8_t* reply = replies.buffer;
  sendStopSignal(port, stop);
  if (!stop.sleepFor(100)) return;
  if (transferMode() == kSerial) reportError(wire::flushRx(port));

  int32_t got = query(port, "RA00", 100, replies, stop);
  if (got < 0) return;
  if (replyFor(replies, got, 'A')) {
    log("DSU reports protocol is set to ");
    switch (reply[6]) {
      case '8':
        logMore("Telvaris\n");
        break;
      case '9':
        logMore("IBVA\n");
        break;
      case '3':
        logMore("OPENEEG\n");
        break;
      default:
        logMore("Unknown Protocol\n");
        break;
    }
  } else {
    log("readProtocol: no data returned\n");
  }

  if ((got = query(port, "R971", 100, replies, stop)) < 0) return;
  if (replyFor(replies, got, '9')) {
    log("DSU reports packet length set to ");
    switch (reply[6]) {
      case '0':
        logMore("5 (2 Ports)\n");
        break;
      case '1':
        logMore("8 (4 Ports)\n");
        break;
      case '2':
        logMore("11 (6 Ports)\n");
        break;
      case '3':
        logMore("14 (8 Ports)\n");
        break;
      default:
        logMore("Unknown packet length (%d)\n", reply[6]);
        break;
    }
  } else {
    log("readPacketLength : no data returned\n");
  }

  if ((got = query(port, "R9A0", 100, replies, stop)) < 0) return;
  if (replyFor(replies, got, '9')) {
    log("DSU reports sample rate set to ");
    switch (reply[6]) {
      case '4':
        logMore("512\n");
        break;
      case '8':
        logMore("256\n");
        break;
      case '2':
        logMore("1024\n");
        break;
      default:
        logMore("Unknown (%c%c)\n", reply[5], reply[6]);
        break;
    }
  }

  sendCommand(port, "IDENT", 5, stop);
  if (!stop.sleepFor(400)) return;
  log("DSU Identification:\n");
  got = replies.receive ? replies.receive(replies.buffer, replies.capacity) : static_cast<int32_t>(replies.capacity);
  const size_t length = got > 0 ? strnlen(reinterpret_cast<const char*>(reply), static_cast<size_t>(got)) : 0;
  log("%.*s\n", static_cast<int>(length), reinterpret_cast<const char*>(reply));
}

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL SendCommandToDSU(const char* command, int32_t length) {
  return telvaris::atBoundary(int32_t {TLV_DSU_NO_MEMORY}, [&] {
    return dsu::sendCommand(dsu::linkSettings().activeComPort, command, length, dsu::StopToken::never());
  });
}

TLV_API int32_t TLV_CALL programDSU(int32_t /*reserved*/, int32_t command, int32_t value, int32_t persist) {
  return telvaris::atBoundary(int32_t {TLV_DSU_NO_MEMORY}, [&] { return dsu::programDsu(command, value, persist); });
}

TLV_API int32_t TLV_CALL SetDSUProtocol(int32_t /*reserved*/, int32_t protocol) {
  return telvaris::atBoundary(int32_t {TLV_DSU_NO_MEMORY}, [&] { return dsu::setDsuProtocol(protocol); });
}

}  // extern "C"
