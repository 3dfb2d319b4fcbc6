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
#pragma once

#include <cstddef>
#include <cstdint>

namespace net::mqtt {

constexpr int32_t kKeepAliveSeconds = 20;
constexpr uint32_t kPollTimeoutMs = 5000;
constexpr uint32_t kFeedbackTimeoutMs = 50;
constexpr uint32_t kDisconnectTimeoutMs = 10000;
// pollMQTTConnectionForResponse copies at most this much: the size of the
// DSU receive buffer it was made for.
constexpr size_t kPollCopyLimit = 430080;
// tlMQTTRetrieveFeedbackInformation's working buffer; longer payloads are
// cut to one byte less.
constexpr size_t kFeedbackBufferSize = 2048;

// 0 when connected; otherwise the client library's code from creating the
// client (negative; MQTTCLIENT_NULL_PARAMETER for a NULL address or client
// identifier) or from connecting (non-zero). A client from an earlier call
// is disconnected and destroyed first.
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

// Disconnects and destroys the client if there is one, closes the log; 0.
int32_t terminate();

}  // namespace net::mqtt
