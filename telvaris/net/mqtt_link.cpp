#include "net/mqtt_link.h"

#include <MQTTClient.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "boundary.h"
#include "net/feedback_decision.h"
#include "net/mqtt_log.h"
#include "platform/paths.h"
#include "telvaris.h"

namespace net::mqtt {
namespace {

using Clock = std::chrono::steady_clock;

// A connection that ends this soon after it was made, this many times
// running, is being taken over by another client with our identity.
constexpr auto kShortLived = std::chrono::seconds(10);
constexpr int kShortLivedLossesForClash = 3;
constexpr auto kDropReportInterval = std::chrono::seconds(1);

// Messages are taken off the connection by the client library's background
// thread as they arrive and queued here; a receive waits on the queue only.
// So a receive never holds the client, a publish never waits behind one,
// and keep-alive pings go out however long the caller stays silent (the
// broker drops a client that says nothing for one and a half keep-alive
// intervals).
//
// Lock order: lifeMutex, then clientMutex, then queueMutex. The client
// library's callbacks take queueMutex only, so a call into the library that
// waits for its background thread never waits behind us.
struct Link {
  // initialise and terminate one at a time: they start and join the
  // reconnect thread.
  std::mutex lifeMutex;
  // Runs while a client that once connected exists; joined by whoever
  // retires that client.
  std::thread reconnector;

  // Every call into the client library, one at a time. Only connect,
  // subscribe and disconnect can take long, and none of them is a receive.
  std::mutex clientMutex;
  MQTTClient client = nullptr;
  // What a reconnect needs again; set with the client.
  std::string clientId;
  bool tls = false;
  std::string caFile;  // empty: the system's trust store

  std::mutex queueMutex;
  std::condition_variable arrived;  // a message came, or the connection ended
  std::condition_variable wake;     // the reconnect thread: a loss, or time to stop
  // Counts the clients made; a callback of an earlier client (it may come
  // late, from another thread) finds a different number and is ignored.
  uintptr_t generation = 0;
  std::deque<std::vector<uint8_t>> queue;  // payloads in arrival order
  size_t queuedBytes = 0;
  bool connected = false;  // false: receives give up at once when the queue is empty
  bool lost = false;       // a loss the reconnect thread has not taken up yet
  bool stopping = false;   // the reconnect thread is to end
  // Subscriptions to restore after a reconnect. Added under clientMutex
  // too, so a reconnect that copies them sees every one the broker has.
  std::vector<std::string> topics;
  std::vector<uint8_t> pendingBytes;  // the unread rest of a payload for pollBytes
  size_t pendingOffset = 0;
  // Drops of this client, for its log; `dropsUnreported` when the latest
  // ones came too soon after the last line about them.
  uint64_t clientDroppedMessages = 0;
  uint64_t clientDroppedBytes = 0;
  bool dropsUnreported = false;
  Clock::time_point lastDropReport;

  // From the connection's loss until it is made again: publishes,
  // subscribes and unsubscribes do not wait for a client that a reconnect
  // try may hold.
  std::atomic<bool> down {false};

  std::atomic<uint32_t> reconnects {0};
  std::atomic<uint64_t> droppedMessages {0};
  std::atomic<uint64_t> droppedBytes {0};
};

Link& link();

// The client library's thread may still call in while the process ends, so
// the state outlives a client that was never terminated. With no client
// left nothing calls in, and the state goes with the library: a host that
// loads and unloads the library loses nothing. The reconnect thread is ended
// either way, before the log it writes to goes (the log's state is made
// first, so it is destroyed after this).
struct LinkOwner {
  Link* link;
  LinkOwner() : link((mqttlog::prepare(), new Link)) {}
  ~LinkOwner();
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

struct DropTally {
  uint64_t messages = 0;
  uint64_t bytes = 0;
};

void reportDrops(const DropTally& tally) {
  mqttlog::line("MQTT: Receive queue full: %llu messages (%llu bytes) dropped so far\n",
                static_cast<unsigned long long>(tally.messages), static_cast<unsigned long long>(tally.bytes));
}

// Pushes the oldest messages out while the queue is past a bound. Returns
// the client's tally when a log line about it is due.
std::optional<DropTally> trimQueueLocked(Link& l) {
  bool dropped = false;
  while (!l.queue.empty() && (l.queue.size() > kQueueMaxMessages || l.queuedBytes > kQueueMaxBytes)) {
    const size_t size = l.queue.front().size();
    l.queue.pop_front();
    l.queuedBytes -= size;
    ++l.clientDroppedMessages;
    l.clientDroppedBytes += size;
    l.droppedMessages.fetch_add(1, std::memory_order_relaxed);
    l.droppedBytes.fetch_add(size, std::memory_order_relaxed);
    dropped = true;
  }
  if (!dropped) return std::nullopt;
  const auto now = Clock::now();
  const bool reportedBefore = l.lastDropReport != Clock::time_point {};
  if (reportedBefore && now - l.lastDropReport < kDropReportInterval) {
    l.dropsUnreported = true;
    return std::nullopt;
  }
  l.lastDropReport = now;
  l.dropsUnreported = false;
  return DropTally {l.clientDroppedMessages, l.clientDroppedBytes};
}

// Runs on the client library's thread, which must never see an exception:
// when there is no memory to queue the message, it is left with the client
// library (result 0), which offers it again when the next packet comes in
// (at the latest the keep-alive answer), so nothing is lost; until a quiet
// moment the queue then runs one message behind.
int onMessage(void* context, char* topic, int /*topicLength*/, MQTTClient_message* message) noexcept {
  Link& l = link();
  std::optional<DropTally> report;
  try {
    const auto* payload = static_cast<const uint8_t*>(message->payload);
    std::vector<uint8_t> bytes(payload, payload + std::max(message->payloadlen, 0));
    std::lock_guard lock(l.queueMutex);
    if (generationOf(context) == l.generation) {
      const size_t size = bytes.size();
      l.queue.push_back(std::move(bytes));
      l.queuedBytes += size;
      report = trimQueueLocked(l);
    }
  } catch (...) {
    return 0;
  }
  MQTTClient_freeMessage(&message);
  MQTTClient_free(topic);
  l.arrived.notify_one();
  if (report) reportDrops(*report);
  return 1;  // taken
}

void onConnectionLost(void* context, char* /*cause*/) {
  // What arrived before the loss may still be taken.
  Link& l = link();
  {
    std::lock_guard lock(l.queueMutex);
    if (generationOf(context) != l.generation) return;
    l.connected = false;
    l.lost = true;
    l.down = true;
  }
  l.arrived.notify_all();
  l.wake.notify_all();
}

// True when the connection is up, unless it was lost since `lost` was last
// cleared (the loss then stays for the reconnect thread to take up).
bool markConnected(Link& l) {
  std::lock_guard lock(l.queueMutex);
  if (l.lost) return false;
  l.connected = true;
  l.down = false;
  return true;
}

// Ends the current client's share of the queue: nothing of it is taken any
// more, and receives stop waiting. Returns the number of the next client.
uintptr_t retireClient(Link& l) {
  uintptr_t next = 0;
  {
    std::lock_guard lock(l.queueMutex);
    next = ++l.generation;
    l.connected = false;
    l.lost = false;
    l.down = false;
    l.queue.clear();
    l.queuedBytes = 0;
    l.topics.clear();
    l.pendingBytes.clear();
    l.pendingOffset = 0;
    l.clientDroppedMessages = 0;
    l.clientDroppedBytes = 0;
    l.dropsUnreported = false;
    l.lastDropReport = {};
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

// Ends the reconnect thread, waiting for a try in progress. Under lifeMutex.
void stopReconnecting(Link& l) {
  if (!l.reconnector.joinable()) return;
  {
    std::lock_guard lock(l.queueMutex);
    l.stopping = true;
  }
  l.wake.notify_all();
  l.reconnector.join();
  std::lock_guard lock(l.queueMutex);
  l.stopping = false;
}

// Waits `ms` unless told to stop first; true to go on.
bool pauseUnlessStopped(Link& l, uint32_t ms) {
  std::unique_lock lock(l.queueMutex);
  return !l.wake.wait_for(lock, std::chrono::milliseconds(ms), [&] { return l.stopping; });
}

bool isTlsAddress(const char* address) {
  for (const char* scheme : {"ssl://", "mqtts://", "wss://"}) {
    if (std::strncmp(address, scheme, std::strlen(scheme)) == 0) return true;
  }
  return false;
}

// The connect options of every connect, first or again; `ssl` must live
// as long as the options.
MQTTClient_connectOptions connectOptions(const Link& l, int timeoutSeconds, MQTTClient_SSLOptions& ssl) {
  MQTTClient_connectOptions options = MQTTClient_connectOptions_initializer;
  options.keepAliveInterval = kKeepAliveSeconds;
  options.cleansession = 1;
  options.connectTimeout = timeoutSeconds;
  if (l.tls) {
    ssl = MQTTClient_SSLOptions_initializer;
    ssl.trustStore = l.caFile.empty() ? nullptr : l.caFile.c_str();
    ssl.enableServerCertAuth = 1;
    ssl.verify = 1;  // the certificate must name the host connected to
    options.ssl = &ssl;
  }
  return options;
}

// One try at making the lost connection again and restoring its
// subscriptions; true when the link is up again.
bool reconnectOnce(Link& l, uintptr_t generation) {
  std::lock_guard client(l.clientMutex);
  std::vector<std::string> topics;
  {
    std::lock_guard lock(l.queueMutex);
    if (l.stopping || l.generation != generation || !l.client) return false;
    l.lost = false;  // a loss from here on is a loss of this try's connection
    topics = l.topics;
  }
  MQTTClient_SSLOptions ssl;
  MQTTClient_connectOptions options = connectOptions(l, kReconnectTimeoutSeconds, ssl);
  if (MQTTClient_connect(l.client, &options) != MQTTCLIENT_SUCCESS) return false;
  int rc = MQTTCLIENT_SUCCESS;
  for (const std::string& topic : topics) {
    rc = MQTTClient_subscribe(l.client, topic.c_str(), 0);
    if (rc != MQTTCLIENT_SUCCESS) break;
  }
  // A topic unsubscribed while this try ran is not restored after all.
  while (rc == MQTTCLIENT_SUCCESS) {
    std::vector<std::string> gone;
    {
      std::lock_guard lock(l.queueMutex);
      for (const std::string& topic : topics) {
        if (std::find(l.topics.begin(), l.topics.end(), topic) == l.topics.end()) gone.push_back(topic);
      }
    }
    if (gone.empty()) break;
    for (const std::string& topic : gone) {
      MQTTClient_unsubscribe(l.client, topic.c_str());
      topics.erase(std::find(topics.begin(), topics.end(), topic));
    }
  }
  if (rc != MQTTCLIENT_SUCCESS) {
    MQTTClient_disconnect(l.client, 0);
    return false;
  }
  return markConnected(l);
}

// The reconnect thread of client number `generation`, connected since
// `connectedAt`: waits for a loss, then tries until the link is up again.
void keepConnected(Link& l, uintptr_t generation, Clock::time_point connectedAt, std::string clientId) noexcept {
  int shortLivedLosses = 0;
  bool clashReported = false;
  try {
    for (;;) {
      {
        std::unique_lock lock(l.queueMutex);
        l.wake.wait(lock, [&] { return l.stopping || l.lost; });
        if (l.stopping) return;
      }
      mqttlog::line("MQTT: Connection lost\n");
      if (Clock::now() - connectedAt < kShortLived) {
        ++shortLivedLosses;
      } else {
        shortLivedLosses = 0;
        clashReported = false;
      }
      const bool clash = shortLivedLosses >= kShortLivedLossesForClash;
      if (clash && !clashReported) {
        mqttlog::line(
            "MQTT: Connection lost again and again soon after connecting; another client may be using "
            "the identity %s\n",
            clientId.c_str());
        clashReported = true;
      }
      uint32_t waitMs = clash ? kLongestRetryMs : kFirstRetryMs;
      for (;;) {
        if (!pauseUnlessStopped(l, waitMs)) return;
        if (reconnectOnce(l, generation)) break;
        waitMs = std::min(waitMs * 2, kLongestRetryMs);
      }
      connectedAt = Clock::now();
      l.reconnects.fetch_add(1);
      mqttlog::line("MQTT: Reconnected\n");
    }
  } catch (...) {
    // Only a lost memory allocation can end up here: the link stays down
    // until the next initialise, as a lost link always did.
  }
}

LinkOwner::~LinkOwner() {
  bool idle;
  {
    std::lock_guard life(link->lifeMutex);
    stopReconnecting(*link);
    std::lock_guard lock(link->clientMutex);
    idle = link->client == nullptr;
  }
  if (idle) delete link;
}

// Takes one message within `timeoutMs` and hands its payload to `take`
// (under the queue lock; `take` may keep the payload). False when none came,
// or at once when the queue is empty and the link is not connected.
template <typename Take>
bool receiveOne(uint32_t timeoutMs, Take&& take) {
  Link& l = link();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::unique_lock lock(l.queueMutex);
  for (;;) {
    if (!l.queue.empty()) {
      std::vector<uint8_t> payload = std::move(l.queue.front());
      l.queue.pop_front();
      l.queuedBytes -= payload.size();
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
  } else if (l.down) {
    rc = MQTTCLIENT_DISCONNECTED;  // what the client library says on a lost connection
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
  std::lock_guard life(l.lifeMutex);
  stopReconnecting(l);
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
  l.clientId = clientId;
  l.tls = isTlsAddress(address);
  const char* caFile = std::getenv(TLV_MQTT_CAFILE_VARIABLE);
  l.caFile = l.tls && caFile && *caFile ? platform::mapPath(caFile) : std::string();
  MQTTClient_SSLOptions ssl;
  MQTTClient_connectOptions options = connectOptions(l, kConnectTimeoutSeconds, ssl);
  mqttlog::line("MQTT: Connecting to pelorVantis\n");
  rc = MQTTClient_connect(l.client, &options);
  if (rc != MQTTCLIENT_SUCCESS) {
    mqttlog::line("MQTT: connection failed. RC=%d\n", rc);
    return rc;
  }
  markConnected(l);  // a loss right after this is the reconnect thread's to take up
  mqttlog::line("MQTT: Connected to pelorVantis\n");
  try {
    l.reconnector = std::thread(keepConnected, std::ref(l), generation, Clock::now(), l.clientId);
  } catch (...) {
    // No thread to be had: the link works, but a lost connection stays lost.
  }
  return 0;
}

int32_t subscribe(const char* topic) {
  mqttlog::line("MQTT: Subscribing to %s\n", topic ? topic : "");
  int rc = MQTTCLIENT_NULL_PARAMETER;
  if (topic) {
    Link& l = link();
    if (l.down) {
      rc = MQTTCLIENT_DISCONNECTED;
    } else {
      std::lock_guard lock(l.clientMutex);
      rc = l.client ? MQTTClient_subscribe(l.client, topic, 0) : MQTTCLIENT_FAILURE;
      if (rc == MQTTCLIENT_SUCCESS) {
        std::lock_guard queueLock(l.queueMutex);
        if (std::find(l.topics.begin(), l.topics.end(), topic) == l.topics.end()) l.topics.emplace_back(topic);
      }
    }
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
    {
      std::lock_guard lock(l.queueMutex);
      auto kept = std::find(l.topics.begin(), l.topics.end(), topic);
      if (kept != l.topics.end()) l.topics.erase(kept);
    }
    // While the link is down the broker has no subscription to end.
    if (!l.down) {
      std::lock_guard lock(l.clientMutex);
      if (l.client) MQTTClient_unsubscribe(l.client, topic);
    }
  }
  mqttlog::line("MQTT: Unsubscribing from %s\n", topic ? topic : "");
  return 0;
}

int32_t terminate() {
  {
    Link& l = link();
    std::lock_guard life(l.lifeMutex);
    stopReconnecting(l);
    std::optional<DropTally> unreported;
    {
      std::lock_guard lock(l.queueMutex);
      if (l.dropsUnreported) unreported = DropTally {l.clientDroppedMessages, l.clientDroppedBytes};
    }
    if (unreported) reportDrops(*unreported);
    std::lock_guard lock(l.clientMutex);
    dropClientLocked(l);
  }
  mqttlog::line("MQTT: Shutdown\n");
  mqttlog::close();
  return 0;
}

uint32_t reconnectCount() { return link().reconnects.load(); }

uint64_t droppedMessages() { return link().droppedMessages.load(); }

uint64_t droppedBytes() { return link().droppedBytes.load(); }

QueueLevel queueLevel() {
  Link& l = link();
  std::lock_guard lock(l.queueMutex);
  return QueueLevel {l.queue.size(), l.queuedBytes};
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
  return telvaris::atBoundary(int32_t {TLV_MQTT_FAILURE}, [&] { return net::mqtt::subscribe(topic); });
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
