#include "dsu/data_road.h"

#include "dsu/debug_log.h"
#include "dsu/port_scan.h"
#include "dsu/serial_wire.h"
#include "net/mqtt_link.h"
#include "platform/tcp.h"

namespace dsu {
namespace {

// How long a wait of the road lasts at most before it looks at the
// session's stop request again.
constexpr int kSliceMs = 50;
// The identification report's one receive on the TCP/IP road.
constexpr int kReplyWaitMs = 200;

}  // namespace

DataRoad::DataRoad(TransferSettings settings) : settings_(std::move(settings)) {}

DataRoad::~DataRoad() { close(); }

DataRoad::Opened DataRoad::open(StopToken& stop) {
  switch (settings_.mode) {
    case kSerial: {
      const int32_t port = scanPorts(stop);
      if (port < 0) return stop.requested() ? Opened::kStopped : Opened::kNoDsu;
      port_ = port;
      break;
    }
    case kTcpIp: {
      const auto server = platform::parseIpv4(settings_.serverAddress.c_str(), settings_.serverPort);
      tcp_ = std::make_unique<platform::TcpClient>();
      int progress = server ? tcp_->startConnect(*server) : platform::TcpClient::kFailed;
      while (progress == platform::TcpClient::kPending && !stop.requested()) progress = tcp_->finishConnect(kSliceMs);
      if (progress != platform::TcpClient::kConnected) {
        tcp_->close();
        if (stop.requested()) return Opened::kStopped;
        log("Failed to connect to %s:%d\n", settings_.serverAddress.c_str(), settings_.serverPort);
        return Opened::kNoDsu;
      }
      break;
    }
    default: {
      log("Connecting to %s:%d for userID %s\n", settings_.brokerAddress.c_str(), settings_.brokerPort,
          settings_.userId.c_str());
      // The one wait that cannot be cut short: the client's connect.
      if (net::mqtt::initialise(settings_.brokerAddress.c_str(), settings_.brokerPort, settings_.userId.c_str(), 0) !=
          0) {
        log("Failed to initialise make MQTT connection to %s:%d, %s\n", settings_.brokerAddress.c_str(),
            settings_.brokerPort, settings_.userId.c_str());
        return stop.requested() ? Opened::kStopped : Opened::kFailed;
      }
      if (stop.requested()) return Opened::kStopped;
      log("subscribing to %s\n", settings_.subscribeTopic.c_str());
      if (net::mqtt::subscribe(settings_.subscribeTopic.c_str()) != 0) {
        log("Failed to subscribe to %s\n", settings_.subscribeTopic.c_str());
        return stop.requested() ? Opened::kStopped : Opened::kFailed;
      }
      // The link's counters run for the whole process: this session's share
      // is what they gain from here on.
      reconnectsSeen_ = net::mqtt::reconnectCount();
      droppedAtOpen_ = net::mqtt::droppedBytes();
      break;
    }
  }
  if (stop.requested()) {
    close();
    return Opened::kStopped;
  }
  return Opened::kOpen;
}

void DataRoad::logProcessing() const {
  switch (settings_.mode) {
    case kSerial:
      log("Processing on COM Port: %d\n", port_ + 1);
      break;
    case kTcpIp:
      log("Processing from IP Address %s\n", settings_.serverAddress.c_str());
      break;
    case kMqtt:
      log("Processing via MQTT\n");
      break;
    default:
      log("Processing via Pelorvantis\n");
      break;
  }
}

int32_t DataRoad::readTcp(uint8_t* buffer, int32_t capacity, int timeoutMs, StopToken& stop) {
  for (int waited = 0;; waited += kSliceMs) {
    const int64_t got =
        tcp_ ? tcp_->receive(buffer, static_cast<size_t>(capacity), kSliceMs) : int64_t {platform::TcpClient::kError};
    if (got != platform::TcpClient::kNothingYet) return got < 0 ? -1 : static_cast<int32_t>(got);
    if (stop.requested() || (timeoutMs >= 0 && waited >= timeoutMs)) return 0;
  }
}

int32_t DataRoad::read(uint8_t* buffer, int32_t capacity, StopToken& stop, bool& endSession) {
  endSession = false;
  switch (settings_.mode) {
    case kSerial: {
      const int32_t got = wire::gets(port_, buffer, capacity);
      if (got < 0) {
        log("Error Code: %d returned from PortGets\n", got);
        reportError(got);
        log("Forcing Instruction = TERMINATE\n");
        endSession = true;
      }
      return got;
    }
    case kTcpIp: {
      // Waits for the server as long as it takes, or until the session ends.
      const int32_t got = readTcp(buffer, capacity, -1, stop);
      if (got < 1) {
        if (!stop.requested()) {
          log("Nothing returned from WiFi Buffer\n");
          log("Forcing Instruction = TERMINATE\n");
        }
        endSession = true;
      }
      return got;
    }
    default: {
      // The payloads are P3 bytes: taken whole, zero bytes and all. Every
      // message already queued comes in the same read, or a unit that sends
      // a message a packet would outrun the reads for good.
      const size_t room = static_cast<size_t>(capacity);
      int32_t got = -1;
      for (uint32_t waited = 0; got < 0 && waited < net::mqtt::kPollTimeoutMs && !stop.requested();
           waited += kSliceMs) {
        got = net::mqtt::pollBytes(buffer, room, kSliceMs);
      }
      if (got < 0) return 0;
      size_t total = static_cast<size_t>(got);
      while (total < room) {
        const int32_t more = net::mqtt::pollBytes(buffer + total, room - total, 0);
        if (more < 0) break;
        total += static_cast<size_t>(more);
      }
      return static_cast<int32_t>(total);
    }
  }
}

ReplyReader DataRoad::replies(uint8_t* buffer, size_t capacity) {
  switch (settings_.mode) {
    case kSerial:
      return serialReplies(port_, buffer, capacity);
    case kTcpIp: {
      ReplyReader reader;
      reader.buffer = buffer;
      reader.capacity = capacity;
      reader.receive = [this](uint8_t* into, size_t size) {
        return readTcp(into, static_cast<int32_t>(size), kReplyWaitMs, StopToken::never());
      };
      return reader;
    }
    default: {
      ReplyReader reader;
      reader.buffer = buffer;
      reader.capacity = capacity;
      return reader;
    }
  }
}

bool DataRoad::linkCameBack() {
  if (!mqttRoad()) return false;
  const uint32_t now = net::mqtt::reconnectCount();
  if (now == reconnectsSeen_) return false;
  reconnectsSeen_ = now;
  return true;
}

uint64_t DataRoad::bytesLost() const { return mqttRoad() ? net::mqtt::droppedBytes() - droppedAtOpen_ : 0; }

void DataRoad::close() {
  if (settings_.mode == kSerial && port_ >= 0 && wire::held(port_)) wire::close(port_);
  if (tcp_) tcp_->close();
}

}  // namespace dsu
