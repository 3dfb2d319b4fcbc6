/*
 * telvaris: device and feedback library.
 *
 * Flat C interface. Every export returns a 32-bit result (0 success,
 * negative failure unless said otherwise) and takes 32-bit integers,
 * zero-terminated 8-bit texts and pointers to element 0 of arrays whose
 * sizes are given below. The library keeps no pointer to a caller's buffer
 * after a call returns, and no export ends its host process.
 *
 * On Windows the exports use __stdcall with undecorated names (telvaris.def);
 * on Linux the C calling convention. Keep telvaris.def in step with every
 * TLV_API declaration here: the build checks that the two agree.
 */
#ifndef TELVARIS_H
#define TELVARIS_H

#include <stdint.h>

#if defined(_WIN32)
#define TLV_CALL __stdcall
#if defined(TELVARIS_BUILDING)
#define TLV_API __declspec(dllexport)
#else
#define TLV_API __declspec(dllimport)
#endif
#else
#define TLV_CALL
#define TLV_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ------------------------------------------------------------------------
 * Debug log and version
 *
 * The DSU side's diagnostic log. Every line starts with a UTC time stamp
 * "[YYYY-MM-DD hh:mm:ss] - ". Logging switches on when "c:\telvaris.log"
 * (on Linux $TELVARIS_ROOT/telvaris.log) exists as a session starts, or
 * through SetDebugMode.
 * ---------------------------------------------------------------------- */

/* mode 1: open `path` emptied; any other non-zero mode: open it for
 * appending; 0: close a file opened here and switch logging off. A second
 * open while one is open changes nothing. Returns 0, or -1 when the file
 * cannot be opened (or `path` is NULL); logging is then unchanged. */
TLV_API int32_t TLV_CALL SetDebugMode(int32_t reserved, int32_t mode, const char* path);

/* Level 1 (the default) logs each read of the DSU read thread. Returns 0. */
TLV_API int32_t TLV_CALL SetDebugLevel(int32_t reserved, int32_t level);

/* Writes "tag: message". Returns 0 when written, 1 when logging is off.
 * A NULL tag or message is written as an empty text. */
TLV_API int32_t TLV_CALL InsertLogMessage(const char* tag, const char* message);

/* Writes the library version 5.0.1. NULL pointers are skipped. Returns 0. */
TLV_API int32_t TLV_CALL ReportVersion(int32_t* major, int32_t* minor, int32_t* build);

/* Stores the caller's version for the log header. Returns 0. */
TLV_API int32_t TLV_CALL SaveVersionInfo(int32_t major, int32_t minor, int32_t build);

/* ------------------------------------------------------------------------
 * Shared feedback block (tlAPI)
 * ---------------------------------------------------------------------- */

/* (exports of the shared block go here) */

/* ------------------------------------------------------------------------
 * MQTT link
 * ---------------------------------------------------------------------- */

/* The process's one MQTT client connection (Eclipse Paho, synchronous).
 * Call initialiseMQTTConnection, then subscribeToMQTTConnection for each
 * topic to receive, then publishes and receives, then optionally
 * unsubscribeFromMQTTConnection, and terminateMQTTConnection. Every
 * subscription and publication uses QoS 0; publishes do not wait for
 * delivery. Messages are taken off the connection in the background as they
 * arrive (which also keeps an idle connection alive) and handed out, oldest
 * first, by the two receive calls. Calls from several threads are safe: a
 * publish never waits behind a receive that is still waiting for a message.
 *
 * The log "c:\telvaris\MQTT.log" (on Linux $TELVARIS_ROOT/telvaris/MQTT.log;
 * the folder must exist) is created by the first initialisation with a
 * non-zero debug level and stays open until terminateMQTTConnection. Lines
 * carry no time stamp. */

/* Connects to `address`:`port` (address is the server URI without the port,
 * e.g. "tcp://broker.example") as `clientId`, keep-alive 20 s, clean
 * session, no user name, password or TLS; the connect waits up to 30 s.
 * debugLevel 0 writes no log lines (an open log stays open), any other value
 * writes every line. A connection made by an earlier call is closed first.
 * Returns 0 when connected; otherwise the client library's code from creating
 * the client (negative; -6 for a NULL address or client identifier, -14 for
 * a scheme other than tcp:// or ws://) or from connecting (non-zero). After
 * a failed connect the link stays unusable: subscribes fail, publishes return
 * -1, receives return -1 at once. */
TLV_API int32_t TLV_CALL initialiseMQTTConnection(const char* address, int32_t port, const char* clientId,
                                                  int32_t debugLevel);

/* Subscribes to `topic` (QoS 0). Returns 0, or the client library's non-zero
 * code (-6 for a NULL topic, -1 before any initialisation, -3 after a failed
 * connect or a lost connection). */
TLV_API int32_t TLV_CALL subscribeToMQTTConnection(const char* topic);

/* Publishes the text `payload` without its terminating zero on `topic`.
 * Returns 0, or -1 when the publish is refused (no connection, NULL topic or
 * payload). */
TLV_API int32_t TLV_CALL publishToMQTTConnection(const char* topic, const char* payload);

/* Publishes exactly `length` bytes from `payload` (zero bytes included) on
 * `topic`. Returns 0, or -1 when the publish is refused (no connection, NULL
 * topic, NULL payload with a non-zero length, negative length). */
TLV_API int32_t TLV_CALL publishToMQTTConnectionWithLength(const char* topic, const void* payload, int32_t length);

/* Waits up to 5000 ms for one message on any subscribed topic and copies its
 * payload into `buffer` as a bounded string copy: bytes up to the first zero
 * byte, then zeros, min(payload length, 430080) positions in all. `buffer`
 * must hold 430080 bytes, or the largest payload the caller expects. Returns
 * the number of positions written (the payload length when it is at most
 * 430080), or -1 when no message arrived (at once when the link is not
 * connected) or `buffer` is NULL. Nothing is logged. */
TLV_API int32_t TLV_CALL pollMQTTConnectionForResponse(char* buffer);

/* Waits up to 50 ms for one message and decides it. The payload (cut to 2047
 * bytes, read up to its first zero byte) is split into tokens at { } : , space
 * and double quote. With two or more tokens the second decides: "inhibit" at
 * its start gives 0, anything else 1 (so {"feedback":"inhibit"} gives 0 and
 * {"feedback":"reward"} 1). A single token decides by itself: "inhibit" at its
 * start 0, "reward" at its start 1, anything else -1. No token, or no message
 * within 50 ms: -1. */
TLV_API int32_t TLV_CALL tlMQTTRetrieveFeedbackInformation(void);

/* Unsubscribes from `topic`. Returns 0 (the outcome is not reported). */
TLV_API int32_t TLV_CALL unsubscribeFromMQTTConnection(const char* topic);

/* Disconnects (waiting up to 10 s), destroys the client and closes the log.
 * Returns 0, also without a connection. */
TLV_API int32_t TLV_CALL terminateMQTTConnection(void);

/* ------------------------------------------------------------------------
 * Datagrams
 * ---------------------------------------------------------------------- */

/* (exports of the datagram sender go here) */

/* ------------------------------------------------------------------------
 * DSU acquisition
 * ---------------------------------------------------------------------- */

/* (exports of DSU acquisition go here) */

/* ------------------------------------------------------------------------
 * Signal processing
 * ---------------------------------------------------------------------- */

/* (exports of signal processing go here) */

/* ------------------------------------------------------------------------
 * Feedback outputs
 * ---------------------------------------------------------------------- */

/* (exports of the feedback outputs go here) */

#ifdef __cplusplus
}
#endif

#endif /* TELVARIS_H */
