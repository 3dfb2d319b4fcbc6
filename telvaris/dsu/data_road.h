// The road a session's bytes come by, as the read thread opens, reads and
// closes it: a serial port found by the port scan, a TCP/IP connection to
// the stream's server, or an MQTT subscription (the MQTT and relay-service
// roads).
//
// Every wait here ends soon after the session's stop is requested, except
// the MQTT client's connect, which cannot be cut short; the thread looks at
// the stop request again when it returns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dsu/dsu_commands.h"
#include "dsu/stop_token.h"
#include "dsu/transfer_mode.h"

namespace platform {
class TcpClient;
}

namespace dsu {

class DataRoad {
 public:
  explicit DataRoad(TransferSettings settings);
  ~DataRoad();
  DataRoad(const DataRoad&) = delete;
  DataRoad& operator=(const DataRoad&) = delete;

  enum class Opened { kOpen, kNoDsu, kFailed, kStopped };
  // Serial: the port scan (kNoDsu when it finds none). TCP/IP: connects to
  // the server (kNoDsu, logged, when that fails). MQTT roads: connects to
  // the broker and subscribes (kFailed, logged). kStopped when the
  // session's stop was requested meanwhile; nothing is left open then.
  Opened open(StopToken& stop);

  int32_t mode() const { return settings_.mode; }
  // The serial port index (the scan's); for the signals on other roads it
  // is not used.
  int32_t port() const { return port_; }
  // Logs the road: "Processing on COM Port: %d", "... from IP Address %s",
  // "... via MQTT", "... via Pelorvantis".
  void logProcessing() const;

  // One read into `buffer`: serial, everything queued; TCP/IP, what the
  // socket holds, waiting for it; MQTT, every message queued once one came
  // (waiting up to 5 s for it). The byte count (0: nothing); a negative
  // result or `endSession` means the road is gone (logged as the road
  // logs it).
  int32_t read(uint8_t* buffer, int32_t capacity, StopToken& stop, bool& endSession);

  // Where the identification report takes the unit's answers from.
  ReplyReader replies(uint8_t* buffer, size_t capacity);

  // Closes what open() opened (the MQTT connection stays: it belongs to
  // the MQTT link, which keeps it until its own terminate).
  void close();

  // MQTT roads: true once for each time the link has come back after a loss
  // since the road was opened (or since the last call that said so). A
  // restarted broker forgets who asked for the stream, so the session asks
  // again. Always false on the other roads.
  bool linkCameBack();
  // MQTT roads: payload bytes that the link's full receive queue pushed out
  // since the road was opened; 0 on the other roads.
  uint64_t bytesLost() const;

 private:
  int32_t readTcp(uint8_t* buffer, int32_t capacity, int timeoutMs, StopToken& stop);

  bool mqttRoad() const { return settings_.mode == kMqtt || settings_.mode == kRelay; }

  TransferSettings settings_;
  int32_t port_ = -1;
  uint32_t reconnectsSeen_ = 0;
  uint64_t droppedAtOpen_ = 0;
  std::unique_ptr<platform::TcpClient> tcp_;
};

}  // namespace dsu
