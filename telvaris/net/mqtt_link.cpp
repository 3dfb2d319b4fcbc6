#include "net/mqtt_link.h"

#include <MQTTClient.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "net/feedback_decision.h"
#include "net/mqtt_log.h"
#include "telvaris.h"

namespace net::mqtt {
namespace {

// A receive holds the client for at most this long before it lets a
// waiting call in; it is also the longest a publish waits behind a receive.
constexpr uint32_t kReceiveSliceMs = 10;

// The client library wants its calls made one at a time (a synchronous
// receive in particular must not run alongside other calls). Short calls
// enter at once; receives enter slice by slice and give way while a short
// call is waiting.
class ClientGate {
 public:
  std::unique_lock<std::mutex> enter() {
    {
      std::lock_guard guard(waitMutex_);
      ++waiting_;
    }
    std::unique_lock lock(clientMutex_);
    {
      std::lock_guard guard(waitMutex_);
      if (--waiting_ == 0) noneWaiting_.notify_all();
    }
    return lock;
  }

  std::unique_lock<std::mutex> enterSlice() {
    {
      std::unique_lock guard(waitMutex_);
      noneWaiting_.wait(guard, [this] { return waiting_ == 0; });
    }
    return std::unique_lock(clientMutex_);
  }

 private:
  std::mutex clientMutex_;
  std::mutex waitMutex_;
  std::condition_variable noneWaiting_;
  int waiting_ = 0;
};

struct Link {
  ClientGate gate;
  // Guarded by the gate.
  MQTTClient client = nullptr;
  std::vector<uint8_t> pendingBytes;  // the unread rest of a payload for pollBytes
  size_t pendingOffset = 0;
};

Link& link() {
  static Link l;
  return l;
}

void dropClientLocked(Link& l) {
  if (l.client) {
    MQTTClient_disconnect(l.client, static_cast<int>(kDisconnectTimeoutMs));
    MQTTClient_destroy(&l.client);
  }
  l.client = nullptr;
  l.pendingBytes.clear();
  l.pendingOffset = 0;
}

// Takes one message off the connection within `timeoutMs` and hands its
// payload to `take` (while the client is still held). False when none came
// or the connection cannot receive.
template <typename Take>
bool receiveOne(uint32_t timeoutMs, Take&& take) {
  Link& l = link();
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const auto elapsed = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    const uint32_t remaining = elapsed < timeoutMs ? static_cast<uint32_t>(timeoutMs - elapsed) : 0;
    const uint32_t slice = std::min(remaining, kReceiveSliceMs);
    {
      auto lock = l.gate.enterSlice();
      if (!l.client) return false;
      char* topic = nullptr;
      int topicLength = 0;
      MQTTClient_message* message = nullptr;
      const int rc = MQTTClient_receive(l.client, &topic, &topicLength, &message, slice);
      if (topic) MQTTClient_free(topic);
      if (message) {
        take(static_cast<const uint8_t*>(message->payload), static_cast<size_t>(std::max(message->payloadlen, 0)));
        MQTTClient_freeMessage(&message);
        return true;
      }
      if (rc != MQTTCLIENT_SUCCESS) return false;  // never connected, or the connection broke
    }
    if (remaining <= slice) return false;
  }
}

// Bytes up to the first zero byte, zeros after it: `count` positions.
void copyAsText(char* out, const uint8_t* payload, size_t count) {
  const auto* end = static_cast<const uint8_t*>(std::memchr(payload, 0, count));
  const size_t text = end ? static_cast<size_t>(end - payload) : count;
  std::memcpy(out, payload, text);
  std::memset(out + text, 0, count - text);
}

int32_t refusePublish(int rc) {
  mqttlog::line("MQTT: Publish setup failed. RC=%d\n", rc);
  return -1;
}

int32_t publish(const char* topic, const void* payload, int32_t length) {
  Link& l = link();
  int rc = MQTTCLIENT_SUCCESS;
  if (!topic || (!payload && length > 0)) {
    rc = MQTTCLIENT_NULL_PARAMETER;
  } else if (length < 0) {
    rc = MQTTCLIENT_FAILURE;
  } else {
    MQTTClient_message message = MQTTClient_message_initializer;
    message.payload = const_cast<void*>(payload);
    message.payloadlen = length;
    message.qos = 0;
    message.retained = 0;
    MQTTClient_deliveryToken token = 0;  // QoS 0: nothing to wait for
    auto lock = l.gate.enter();
    rc = l.client ? MQTTClient_publishMessage(l.client, topic, &message, &token) : MQTTCLIENT_FAILURE;
  }
  return rc == MQTTCLIENT_SUCCESS ? 0 : refusePublish(rc);
}

}  // namespace

int32_t initialise(const char* address, int32_t port, const char* clientId, int32_t debugLevel) {
  mqttlog::setLevel(debugLevel);
  const std::string uri = mqttlog::format("%s:%d", address ? address : "", port);
  mqttlog::line("MQTT: Creating telvarisDLL -> pelorVantis connection for %s, with userid %s \n", uri.c_str(),
                clientId ? clientId : "");
  Link& l = link();
  auto lock = l.gate.enter();
  dropClientLocked(l);
  if (!address || !clientId) return MQTTCLIENT_NULL_PARAMETER;
  MQTTClient client = nullptr;
  int rc = MQTTClient_create(&client, uri.c_str(), clientId, MQTTCLIENT_PERSISTENCE_NONE, nullptr);
  if (rc != MQTTCLIENT_SUCCESS) {
    if (client) MQTTClient_destroy(&client);
    return rc;
  }
  l.client = client;
  MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
  options.keepAliveInterval = kKeepAliveSeconds;
  options.cleansession = 1;
  mqttlog::line("MQTT: Connecting to pelorVantis\n");
  rc = MQTTClient_connect(l.client, &options);
  if (rc != MQTTCLIENT_SUCCESS) {
    mqttlog::line("MQTT: connection failed. RC=%d\n", rc);
    return rc;
  }
  mqttlog::line("MQTT: Connected to pelorVantis\n");
  return 0;
}

int32_t subscribe(const char* topic) {
  mqttlog::line("MQTT: Subscribing to %s\n", topic ? topic : "");
  int rc = MQTTCLIENT_NULL_PARAMETER;
  if (topic) {
    Link& l = link();
    auto lock = l.gate.enter();
    rc = l.client ? MQTTClient_subscribe(l.client, topic, 0) : MQTTCLIENT_FAILURE;
  }
  if (rc != MQTTCLIENT_SUCCESS) mqttlog::line("MQTT: Subscription failed. RC=%d\n", rc);
  return rc;
}

int32_t publishText(const char* topic, const char* text) {
  if (!text) return refusePublish(MQTTCLIENT_NULL_PARAMETER);
  mqttlog::line("MQTT: Publishing %s to %s\n", text, topic ? topic : "");
  return publish(topic, text, static_cast<int32_t>(std::strlen(text)));
}

int32_t publishBytes(const char* topic, const void* payload, int32_t length) {
  mqttlog::line("MQTT: Publishing %d bytes to %s\n", length, topic ? topic : "");
  return publish(topic, payload, length);
}

int32_t pollText(char* buffer, size_t capacity, uint32_t timeoutMs) {
  if (!buffer) return -1;
  size_t copied = 0;
  const bool got = receiveOne(timeoutMs, [&](const uint8_t* payload, size_t length) {
    copied = std::min(length, capacity);
    copyAsText(buffer, payload, copied);
  });
  return got ? static_cast<int32_t>(copied) : -1;
}

int32_t pollBytes(void* buffer, size_t capacity, uint32_t timeoutMs) {
  if (!buffer || capacity == 0) return -1;
  Link& l = link();
  auto* out = static_cast<uint8_t*>(buffer);
  {
    auto lock = l.gate.enterSlice();
    if (l.pendingOffset < l.pendingBytes.size()) {
      const size_t count = std::min(capacity, l.pendingBytes.size() - l.pendingOffset);
      std::memcpy(out, l.pendingBytes.data() + l.pendingOffset, count);
      l.pendingOffset += count;
      return static_cast<int32_t>(count);
    }
  }
  size_t copied = 0;
  const bool got = receiveOne(timeoutMs, [&](const uint8_t* payload, size_t length) {
    copied = std::min(length, capacity);
    std::memcpy(out, payload, copied);
    if (copied < length) {
      l.pendingBytes.assign(payload + copied, payload + length);
      l.pendingOffset = 0;
    }
  });
  return got ? static_cast<int32_t>(copied) : -1;
}

int32_t retrieveFeedback() {
  char text[kFeedbackBufferSize];
  size_t length = 0;
  const bool got = receiveOne(kFeedbackTimeoutMs, [&](const uint8_t* payload, size_t payloadLength) {
    length = payloadLength;
    const size_t kept = std::min(payloadLength, kFeedbackBufferSize - 1);
    copyAsText(text, payload, kept);
    text[kept] = '\0';
  });
  if (!got) return kNoDecision;
  mqttlog::line("MQTT: Received '%s' of length %d\n", text, static_cast<int>(length));
  return decideFeedback(text);
}

int32_t unsubscribe(const char* topic) {
  if (topic) {
    Link& l = link();
    auto lock = l.gate.enter();
    if (l.client) MQTTClient_unsubscribe(l.client, topic);
  }
  mqttlog::line("MQTT: Unsubscribing from %s\n", topic ? topic : "");
  return 0;
}

int32_t terminate() {
  {
    Link& l = link();
    auto lock = l.gate.enter();
    dropClientLocked(l);
  }
  mqttlog::line("MQTT: Shutdown\n");
  mqttlog::close();
  return 0;
}

}  // namespace net::mqtt

// ---- exports ------------------------------------------------------------

extern "C" {

TLV_API int32_t TLV_CALL initialiseMQTTConnection(const char* address, int32_t port, const char* clientId,
                                                  int32_t debugLevel) {
  return net::mqtt::initialise(address, port, clientId, debugLevel);
}

TLV_API int32_t TLV_CALL subscribeToMQTTConnection(const char* topic) { return net::mqtt::subscribe(topic); }

TLV_API int32_t TLV_CALL publishToMQTTConnection(const char* topic, const char* payload) {
  return net::mqtt::publishText(topic, payload);
}

TLV_API int32_t TLV_CALL publishToMQTTConnectionWithLength(const char* topic, const void* payload, int32_t length) {
  return net::mqtt::publishBytes(topic, payload, length);
}

TLV_API int32_t TLV_CALL pollMQTTConnectionForResponse(char* buffer) {
  return net::mqtt::pollText(buffer, net::mqtt::kPollCopyLimit);
}

TLV_API int32_t TLV_CALL tlMQTTRetrieveFeedbackInformation(void) { return net::mqtt::retrieveFeedback(); }

TLV_API int32_t TLV_CALL unsubscribeFromMQTTConnection(const char* topic) { return net::mqtt::unsubscribe(topic); }

TLV_API int32_t TLV_CALL terminateMQTTConnection(void) { return net::mqtt::terminate(); }

}  // extern "C"
