// The library's one MQTT client connection per process.
//
// The exports (telvaris.h, "MQTT link") are thin wrappers over these calls;
// the library's own code (the shared block's feedback publish, the DSU
// stream's MQTT road) calls them directly, never the exports.
//
// Calls may come from several threads. The client library's background
// thread takes messages off the connection as they arrive (and keeps the
// connection alive between calls); receives wait on that queue and never
// hold the client, so a publish, subscribe or terminate never waits behind a
// receive that may block for seconds. Calls into the client library itself
// are made one at a time.
//
// A connection that was made and is then lost (the broker restarts, the
// network drops) is made again by a thread of the link's own: the first try
// 1 s after the loss, then after waits that double up to 5 s, until one
// succeeds or terminate() ends the tries. Each success restores the
// subscriptions in place at the loss and logs "MQTT: Reconnected" (the loss
// logged "MQTT: Connection lost"). While the link is down nothing waits for
// it: publishes and subscribes fail at once with the code of a lost
// connection (publishes -1), receives hand out what was queued and then
// answer -1 at once, unsubscribes return 0 and the topic is not restored.
// A connection lost within 10 s of being made, three times running, is
// taken for another client with the same identity (the broker keeps one
// connection per identity and drops the older): the link then waits the
// longest time between tries and says so in its log once.
//
// Addresses beginning "ssl://" (or "mqtts://", "wss://") connect over TLS
// and verify the broker's certificate and host name against the system's
// trust store, or against the CA file named by TELVARIS_MQTT_CAFILE (PEM,
// read at initialise; a "c:\..." path is mapped as every fixed file is).
#pragma once

#include <cstddef>
#include <cstdint>

namespace net::mqtt {

constexpr int32_t kKeepAliveSeconds = 20;
constexpr int32_t kConnectTimeoutSeconds = 30;
// A reconnect try waits at most this long for the broker, which bounds how
// long terminate() waits for a try in progress.
constexpr int32_t kReconnectTimeoutSeconds = 5;
constexpr uint32_t kFirstRetryMs = 1000;
constexpr uint32_t kLongestRetryMs = 5000;
constexpr uint32_t kPollTimeoutMs = 5000;
constexpr uint32_t kFeedbackTimeoutMs = 50;
constexpr uint32_t kDisconnectTimeoutMs = 10000;
// pollMQTTConnectionForResponse copies at most this much: the size of the
// DSU receive buffer it was made for.
constexpr size_t kPollCopyLimit = 430080;
// tlMQTTRetrieveFeedbackInformation's working buffer; longer payloads are
// cut to one byte less.
constexpr size_t kFeedbackBufferSize = 2048;

// The receive queue holds at most this many messages and this many payload
// bytes (each message also costs a few dozen bytes of bookkeeping). A message
// that would go past either bound pushes out the oldest ones, which are
// counted (droppedMessages, droppedBytes) and logged at most once a second
// ("MQTT: Receive queue full: ... dropped so far"). A DSU session empties the
// queue every pass (100 ms by default): even a unit sending one message per
// packet at 2048 packets a second fills the count bound only after 30 s
// without a pass, and at the unit's few kB/s (at most 115200 baud) the byte
// bound lies more than 20 minutes away.
constexpr size_t kQueueMaxMessages = 65536;
constexpr size_t kQueueMaxBytes = 16 * 1024 * 1024;

// 0 when connected; otherwise the client library's code from creating the
// client (negative; MQTTCLIENT_NULL_PARAMETER for a NULL address or client
// identifier) or from connecting (non-zero; a refused certificate too). A
// failed first connect is not retried. A client from an earlier call is
// disconnected and destroyed first.
int32_t initialise(const char* address, int32_t port, const char* clientId, int32_t debugLevel);

// 0, or the client library's non-zero code.
int32_t subscribe(const char* topic);

// 0, or -1 when the publish is refused (no connection, NULL topic, NULL
// payload with a length, negative length).
int32_t publishText(const char* topic, const char* text);
int32_t publishBytes(const char* topic, const void* payload, int32_t length);

// Waits up to `timeoutMs` for one message and copies its payload the way a
// bounded string copy does: bytes up to the first zero byte, zeros after it,
// min(payload length, capacity) positions in all. Returns that count, or -1
// when no message came (or the connection is unusable).
int32_t pollText(char* buffer, size_t capacity, uint32_t timeoutMs = kPollTimeoutMs);

// The DSU road's receive: copies payload bytes unchanged (zero bytes are
// data in a P3 stream), at most `capacity`; what does not fit is kept and
// handed out first by the next call, without waiting. Returns the count, or
// -1 when nothing came within `timeoutMs`.
int32_t pollBytes(void* buffer, size_t capacity, uint32_t timeoutMs = kPollTimeoutMs);

// Waits up to kFeedbackTimeoutMs for one message and decides it
// (net/feedback_decision.h): 0 inhibit, 1 reward, -1 none.
int32_t retrieveFeedback();

// 0 (the client library's result is not examined).
int32_t unsubscribe(const char* topic);

// Ends the reconnect tries (waiting only for a try in progress, at most
// kReconnectTimeoutSeconds), disconnects and destroys the client if there is
// one, closes the log; 0.
int32_t terminate();

// ---- for sessions that run over the link (the DSU stream) -------------------
// Each counts from the start of the process and never goes down; read one
// when a session starts and compare later. Any thread; none of them waits.

// How many times the link has come back after losing its connection. When
// it changes, a stream asked for over the old connection may have stopped
// (a restarted broker forgets who wanted what); the subscriptions are
// restored by then and publishes go through, so a session asks again (the
// DSU stream's start payload) on the pass that sees the change.
uint32_t reconnectCount();

// Messages, and their payload bytes, pushed out of a full receive queue.
uint64_t droppedMessages();
uint64_t droppedBytes();

// What the receive queue holds now.
struct QueueLevel {
  size_t messages = 0;
  size_t bytes = 0;
};
QueueLevel queueLevel();

}  // namespace net::mqtt
