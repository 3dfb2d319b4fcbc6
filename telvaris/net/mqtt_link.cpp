#include "net/mqtt_link.h"

#include <MQTTClient.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "boundary.h"
#include "net/feedback_decision.h"
#include "net/mqtt_log.h"
#include "telvaris.h"

namespace net::mqtt {
namespace {

// Messages are taken off the connection by the client library's background
// thread as they arrive and queued here; a receive waits on the queue only.
// So a receive never holds the client, a publish never waits behind one,
// and keep-alive pings go out however long the caller stays silent (the
// broker drops a client that says nothing for one and a half keep-alive
// intervals).
struct Link {
  // Every call into the client library, one at a time. Only connect,
  // subscribe and disconnect can take long, and none of them is a receive.
  std::mutex clientMutex;
  MQTTClient client = nullptr;

  std::mutex queueMutex;
  std::condition_variable arrived;  // a message came, or the connection ended
  // Counts the clients made; a callback of an earlier client (it may come
  // late, from another thread) finds a different number and is ignored.
  uintptr_t generation = 0;
  std::deque<std::vector<uint8_t>> queue;  // payloads in arrival order
  bool connected = false;                  // false: receives give up at once when the queue is empty
  std::vector<uint8_t> pendingBytes;       // the unread rest of a payload for pollBytes
  size_t pendingOffset = 0;
};

// The client library's thread may still call in while the process ends, so
// the state outlives a client that was never terminated. With no client
// left nothing calls in, and the state goes with the library: a host that
// loads and unloads the library loses nothing.
struct LinkOwner {
  Link* link = new Link;
  ~LinkOwner() {
    bool idle;
    {
      std::lock_guard lock(link->clientMutex);
      idle = link->client == nullptr;
    }
    if (idle) delete link;
  }
};

Link& link() {
  static LinkOwner owner;
  return *owner.link;
}

// The callbacks' context is the number of the client they belong to.
void* contextOf(uintptr_t generation) {
  return reinterpret_cast<void*>(generation);
}
uintptr_t generationOf(void* context) {
  return reinterpret_cast<uintptr_t>(context);
}

// Runs on the client library's thread, which must never see an exception:
// when there is no memory to queue the message, it is left with the client
// library (result 0), which offers it again when the next packet comes in
// (at the latest the keep-alive answer), so nothing is lost; until a quiet
// moment the queue then runs one message behind.
int onMessage(void* context, char* topic, int /*topicLength*/, MQTTClient_message* message) noexcept {
  Link& l = link();
  try {
    const auto* payload = static_cast<const uint8_t*>(message->payload);
    std::vector<uint8_t> bytes(payload, payload + std::max(message->payloadlen, 0));
    std::lock_guard lock(l.queueMutex);
    if (generationOf(context) == l.generation) l.queue.push_back(std::move(bytes));
  } catch (...) {
    return 0;
  }
  MQTTClient_freeMessage(&message);
  MQTTClient_free(topic);
  l.arrived.notify_one();
  return 1;  // taken
}

void onConnectionLost(void* context, char* /*cause*/) {
  // What arrived before the loss may still be taken.
  Link& l = link();
  {
    std::lock_guard lock(l.queueMutex);
    if (generationOf(context) != l.generation) return;
    l.connected = false;
  }
  l.arrived.notify_all();
}

void markConnected(Link& l) {
  std::lock_guard lock(l.queueMutex);
  l.connected = true;
}

// Ends the current client's share of the queue: nothing of it is taken any
// more, and receives stop waiting. Returns the number of the next client.
uintptr_t retireClient(Link& l) {
  uintptr_t next = 0;
  {
    std::lock_guard lock(l.queueMutex);
    next = ++l.generation;
    l.connected = false;
    l.queue.clear();
    l.pendingBytes.clear();
    l.pendingOffset = 0;
  }
  l.arrived.notify_all();
  return next;
}

uintptr_t dropClientLocked(Link& l) {
  const uintptr_t next = retireClient(l);
  if (l.client) {
    MQTTClient_disconnect(l.client, static_cast<int>(kDisconnectTimeoutMs));
    MQTTClient_destroy(&l.client);
  }
  l.client = nullptr;
  return next;
}

// Takes one message within `timeoutMs` and hands its payload to `take`
// (under the queue lock; `take` may keep the payload). False when none came,
// or at once when the queue is empty and the link is not connected.
template <typename Take>
bool receiveOne(uint32_t timeoutMs, Take&& take) {
  Link& l = link();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(l.queueMutex);
  for (;;) {
    if (!l.queue.empty()) {
      std::vector<uint8_t> payload = std::move(l.queue.front());
      l.queue.pop_front();
      take(std::move(payload));
      return true;
    }
    if (!l.connected) return false;
    if (l.arrived.wait_until(lock, deadline) == std::cv_status::timeout && l.queue.empty()) return false;
  }
}

// Bytes up to the first zero byte, zeros after it: `count` positions.
void copyAsText(char* out, const uint8_t* payload, size_t count) {
  if (count == 0) return;  // an empty payload may come without storage
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
    std::lock_guard lock(l.clientMutex);
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
  std::lock_guard lock(l.clientMutex);
  const uintptr_t generation = dropClientLocked(l);
  if (!address || !clientId) return MQTTCLIENT_NULL_PARAMETER;
  MQTTClient client = nullptr;
  int rc = MQTTClient_create(&client, uri.c_str(), clientId, MQTTCLIENT_PERSISTENCE_NONE, nullptr);
  if (rc == MQTTCLIENT_SUCCESS) {
    rc = MQTTClient_setCallbacks(client, contextOf(generation), onConnectionLost, onMessage, nullptr);
  }
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
  markConnected(l);
  mqttlog::line("MQTT: Connected to pelorVantis\n");
  return 0;
}

int32_t subscribe(const char* topic) {
  mqttlog::line("MQTT: Subscribing to %s\n", topic ? topic : "");
  int rc = MQTTCLIENT_NULL_PARAMETER;
  if (topic) {
    Link& l = link();
    std::lock_guard lock(l.clientMutex);
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
  const bool got = receiveOne(timeoutMs, [&](std::vector<uint8_t>&& payload) {
    copied = std::min(payload.size(), capacity);
    copyAsText(buffer, payload.data(), copied);
  });
  return got ? static_cast<int32_t>(copied) : -1;
}

int32_t pollBytes(void* buffer, size_t capacity, uint32_t timeoutMs) {
  if (!buffer || capacity == 0) return -1;
  Link& l = link();
  auto* out = static_cast<uint8_t*>(buffer);
  {
    std::lock_guard lock(l.queueMutex);
    if (l.pendingOffset < l.pendingBytes.size()) {
      const size_t count = std::min(capacity, l.pendingBytes.size() - l.pendingOffset);
      std::memcpy(out, l.pendingBytes.data() + l.pendingOffset, count);
      l.pendingOffset += count;
      return static_cast<int32_t>(count);
    }
  }
  size_t copied = 0;
  const bool got = receiveOne(timeoutMs, [&](std::vector<uint8_t>&& payload) {
    copied = std::min(payload.size(), capacity);
    if (copied > 0) std::memcpy(out, payload.data(), copied);
    if (copied < payload.size()) {
      // The rest waits in the payload itself: keeping it allocates nothing.
      l.pendingBytes = std::move(payload);
      l.pendingOffset = copied;
    }
  });
  return got ? static_cast<int32_t>(copied) : -1;
}

int32_t retrieveFeedback() {
  char text[kFeedbackBufferSize];
  size_t length = 0;
  const bool got = receiveOne(kFeedbackTimeoutMs, [&](std::vector<uint8_t>&& payload) {
    length = payload.size();
    const size_t kept = std::min(length, kFeedbackBufferSize - 1);
    copyAsText(text, payload.data(), kept);
    text[kept] = '\0';
  });
  if (!got) return kNoDecision;
  mqttlog::line("MQTT: Received '%s' of length %d\n", text, static_cast<int>(length));
  return decideFeedback(text);
}

int32_t unsubscribe(const char* topic) {
  if (topic) {
    Link& l = link();
    std::lock_guard lock(l.clientMutex);
    if (l.client) MQTTClient_unsubscribe(l.client, topic);
  }
  mqttlog::line("MQTT: Unsubscribing from %s\n", topic ? topic : "");
  return 0;
}

int32_t terminate() {
  {
    Link& l = link();
    std::lock_guard lock(l.clientMutex);
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
  return telvaris::atBoundary(int32_t {TLV_MQTT_FAILURE},
                              [&] { return net::mqtt::initialise(address, port, clientId, debugLevel); });
}

TLV_API int32_t TLV_CALL subscribeToMQTTConnection(const char* topic) {
  return net::mqtt::subscribe(topic);
}

TLV_API int32_t TLV_CALL publishToMQTTConnection(const char* topic, const char* payload) {
  return net::mqtt::publishText(topic, payload);
}

TLV_API int32_t TLV_CALL publishToMQTTConnectionWithLength(const char* topic, const void* payload, int32_t length) {
  return net::mqtt::publishBytes(topic, payload, length);
}

TLV_API int32_t TLV_CALL pollMQTTConnectionForResponse(char* buffer) {
  return net::mqtt::pollText(buffer, net::mqtt::kPollCopyLimit);
}

TLV_API int32_t TLV_CALL tlMQTTRetrieveFeedbackInformation(void) {
  return net::mqtt::retrieveFeedback();
}

TLV_API int32_t TLV_CALL unsubscribeFromMQTTConnection(const char* topic) {
  return net::mqtt::unsubscribe(topic);
}

TLV_API int32_t TLV_CALL terminateMQTTConnection(void) {
  return net::mqtt::terminate();
}

}  // extern "C"
