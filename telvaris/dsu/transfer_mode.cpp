#include "dsu/transfer_mode.h"

#include <cstdio>
#include <mutex>

#include "boundary.h"
#include "dsu/debug_log.h"
#include "telvaris.h"

namespace dsu {
namespace {

// Set by the caller's thread, read by the read thread and the shared block.
struct Road {
  std::mutex mutex;
  TransferSettings settings;
};

Road& road() {
  static Road r;
  return r;
}

const char* logName(int32_t mode) {
  switch (mode) {
    case kTcpIp: return "TCP/IP\n";
    case kMqtt: return "MQTT\n";
    case kRelay: return "Pelorvantis\n";
    default: return "Serial\n";
  }
}

// Text for a field of `capacity` bytes: false when it would not fit.
bool fits(const char* text, size_t capacity) { return text && std::char_traits<char>::length(text) < capacity; }

std::string payload(const char* format, const char* first, const char* second, const char* user, const char* last) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, first, second, user, last);
  return buffer;
}

}  // namespace

TransferSettings transferSettings() {
  Road& r = road();
  std::lock_guard lock(r.mutex);
  return r.settings;
}

int32_t transferMode() {
  Road& r = road();
  std::lock_guard lock(r.mutex);
  return r.settings.mode;
}

int32_t setTransferMode(int32_t mode, const char* address, int32_t port, const char* userId,
                        const char* publishTopic, const char* subscribeTopic, const char* payloadFirst,
                        const char* payloadSecond, const char* payloadLast) {
  TransferSettings next = transferSettings();
  switch (mode) {
    case 0:
      next.mode = kSerial;
      break;
    case 1:
      if (!fits(address, kServerAddressCapacity)) return TLV_ROAD_BAD_TEXT;
      next.mode = kTcpIp;
      next.serverAddress = address;
      next.serverPort = port;
      break;
    case 2:
    case 3:
    case 4: {
      if (!fits(address, kBrokerAddressCapacity) || !fits(userId, kUserIdCapacity) ||
          !fits(publishTopic, kPublishTopicCapacity) || !fits(subscribeTopic, kSubscribeTopicCapacity))
        return TLV_ROAD_BAD_TEXT;
      next.brokerAddress = address;
      next.brokerPort = port;
      next.userId = userId;
      next.publishTopic = publishTopic;
      next.subscribeTopic = subscribeTopic;
      if (mode == 2) {
        next.mode = kMqtt;
        next.startPayload = "start";
        next.stopPayload = "stop";
        break;
      }
      if (!payloadFirst || !payloadSecond || !payloadLast) return TLV_ROAD_BAD_TEXT;
      next.mode = kRelay;
      next.startPayload = payload(mode == 3 ? "start/%s/%s/%s/%s" : "monitor/%s/%s/%s/%s", payloadFirst,
                                  payloadSecond, userId, payloadLast);
      next.stopPayload = payload("stop/%s/%s/%s/%s", payloadFirst, payloadSecond, userId, payloadLast);
      if (next.startPayload.size() >= kPayloadCapacity || next.stopPayload.size() >= kPayloadCapacity)
        return TLV_ROAD_BAD_TEXT;
      break;
    }
    default:
      log("Data transfer mode '%d' not recognised - defaulting to SERIAL\n", mode);
      next.mode = kSerial;
      break;
  }
  log("Data Transfer Mode set to ");
  logMore("%s", logName(next.mode));
  if (next.mode == kTcpIp) {
    log("Server IP: %s, Port %d\n", next.serverAddress.c_str(), next.serverPort);
  } else if (next.mode == kMqtt || next.mode == kRelay) {
    log("Server Address: %s:%d, P-Topic: %s, S-Topic: %s\n", next.brokerAddress.c_str(), next.brokerPort,
        next.publishTopic.c_str(), next.subscribeTopic.c_str());
  }
  const int32_t result = next.mode;
  {
    Road& r = road();
    std::lock_guard lock(r.mutex);
    r.settings = std::move(next);  // a move: the settings change whole or not at all
  }
  return result;
}

}  // namespace dsu

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL SetDataTransferMode(int32_t mode, const char* address, int32_t port, const char* userId,
                                             const char* publishTopic, const char* subscribeTopic,
                                             const char* payloadFirst, const char* payloadSecond,
                                             const char* payloadLast) {
  return telvaris::atBoundary(int32_t {TLV_ROAD_BAD_TEXT}, [&] {
    return dsu::setTransferMode(mode, address, port, userId, publishTopic, subscribeTopic, payloadFirst,
                                payloadSecond, payloadLast);
  });
}

}  // extern "C"
