/*
 * telvaris: device and feedback library.
 *
 * Flat C interface. Every export returns a 32-bit result (0 success,
 * negative failure unless said otherwise) and takes 32-bit integers,
 * zero-terminated 8-bit texts and pointers to element 0 of arrays whose
 * sizes are given below. The library keeps no pointer to a caller's buffer
 * after a call returns, and no export ends its host process.
 *
 * Each section names its results (the numbers are part of the interface and
 * never change), lists for each export the results it can return, and says
 * which threads may call it. No C++ exception leaves an export: where its
 * work can fail for want of memory, that is one of its listed results.
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
 *
 * Threads: any thread; lines written by several threads stay whole.
 * ---------------------------------------------------------------------- */

enum TlvLogResult {
  TLV_LOG_OK = 0,
  TLV_LOG_CANNOT_OPEN = -1, /* SetDebugMode: no file (or no memory for its path) */
  TLV_LOG_OFF = 1           /* InsertLogMessage: logging is off, nothing written */
};

/* mode 1: open `path` emptied; any other non-zero mode: open it for
 * appending; 0: close a file opened here and switch logging off. A second
 * open while one is open changes nothing. Returns TLV_LOG_OK, or
 * TLV_LOG_CANNOT_OPEN when the file cannot be opened (or `path` is NULL, or
 * memory runs out); logging is then unchanged. */
TLV_API int32_t TLV_CALL SetDebugMode(int32_t reserved, int32_t mode, const char* path);

/* Level 1 (the default) logs each read of the DSU read thread. Returns
 * TLV_LOG_OK. */
TLV_API int32_t TLV_CALL SetDebugLevel(int32_t reserved, int32_t level);

/* Writes "tag: message". Returns TLV_LOG_OK (written, or dropped like any
 * write error of the log), TLV_LOG_OFF when logging is off. A NULL tag or
 * message is written as an empty text. */
TLV_API int32_t TLV_CALL InsertLogMessage(const char* tag, const char* message);

/* Writes the library's version (major, minor, build). NULL pointers are
 * skipped. Returns TLV_LOG_OK. */
TLV_API int32_t TLV_CALL ReportVersion(int32_t* major, int32_t* minor, int32_t* build);

/* Stores the caller's version for the log header. Returns TLV_LOG_OK. */
TLV_API int32_t TLV_CALL SaveVersionInfo(int32_t major, int32_t minor, int32_t build);

/* ------------------------------------------------------------------------
 * Shared feedback block (tlAPI)
 * ---------------------------------------------------------------------- */

/* One block of feedback state for every process that loads the library
 * (on Linux: per user and TELVARIS_ROOT), zero when its first user loads it.
 * Status words are stored and returned as given. If the system refuses the
 * shared memory, setters change nothing and getters return 0.
 *
 * Threads: any thread of any process. Status words are read and written
 * whole; channel values element by element (a reader may see some channels
 * of an update and not others, never a torn value). The callback table is
 * the process's own.
 *
 * Setters and the Get...Values calls return TLV_BLOCK_OK; the status
 * getters return the stored word. */

enum TlvBlockResult {
  TLV_BLOCK_OK = 0,
  TLV_BLOCK_CANNOT_WRITE = -1, /* tlAPIWriteValues: the export file cannot be created */
  TLV_BLOCK_NO_CALLBACK = -1   /* tlAPIStartRecording...: the slot is empty */
};
TLV_API int32_t TLV_CALL tlAPISetSystemStatus(int32_t status);
TLV_API int32_t TLV_CALL tlAPIGetSystemStatus(void);
/* 1 inhibit, 2 reward, 0 none. With the data transfer mode MQTT (2) the
 * decision is published instead ("inhibit" for 1, "reward" for 2, nothing
 * else) on the publish topic, through the process's MQTT connection, and
 * the block keeps its value. Returns TLV_BLOCK_OK. */
TLV_API int32_t TLV_CALL tlAPISetFeedbackStatus(int32_t status);
TLV_API int32_t TLV_CALL tlAPIGetFeedbackStatus(void);
/* Three arrays of 256 elements (index = channel; 0 carries none). A NULL
 * array leaves its values as they were. Returns 0. */
TLV_API int32_t TLV_CALL tlAPISetFeedbackValues(const double* amplitudes, const double* thresholds,
                                                const int32_t* modalities);
/* Fills elements 1..255 of an array of 256 doubles; element 0 untouched. */
TLV_API int32_t TLV_CALL tlAPIGetAmplitudeValues(double* amplitudes);
/* Fill elements 1..254 of an array of at least 255; 0 and 255 untouched. */
TLV_API int32_t TLV_CALL tlAPIGetThresholdValues(double* thresholds);
TLV_API int32_t TLV_CALL tlAPIGetModalityValues(int32_t* modalities);
TLV_API int32_t TLV_CALL tlAPISetLumiDropStatus(int32_t status);
TLV_API int32_t TLV_CALL tlAPIGetLumiDropStatus(void);
/* Writes amplitudes 1..count-1 ("%10.4f" each, no separators) to
 * "c:\telvaris\export\datachan.txt"; a count above 256 stops at 255.
 * Returns TLV_BLOCK_OK, or TLV_BLOCK_CANNOT_WRITE when the file cannot be
 * created. */
TLV_API int32_t TLV_CALL tlAPIWriteValues(int32_t count);
/* Registers `callback` in slot 0..6 (a larger slot changes nothing; NULL
 * empties the slot) and appends "TlAPISetupCallBack" to
 * "c:\telvaris\callback.txt". Returns TLV_BLOCK_OK. */
TLV_API int32_t TLV_CALL tlAPISetupCallback(uint32_t slot, void(TLV_CALL* callback)(uint16_t* text));
/* Call the callback of slots 0..5, on the calling thread, with the OLE
 * Automation string (UTF-16, length-prefixed) "Callback from DLL", valid
 * until the library unloads. Return TLV_BLOCK_OK, or TLV_BLOCK_NO_CALLBACK
 * when the slot is empty (or the string cannot be made). */
TLV_API int32_t TLV_CALL tlAPIStartRecording(void);
TLV_API int32_t TLV_CALL tlAPIStopRecording(void);
TLV_API int32_t TLV_CALL tlAPIPauseDataTransfer(void);
TLV_API int32_t TLV_CALL tlAPIResumeDataTransfer(void);
TLV_API int32_t TLV_CALL tlAPIStartPlayback(void);
TLV_API int32_t TLV_CALL tlAPIStopPlayback(void);

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
 * carry no time stamp.
 *
 * A connection that was made and is then lost is made again in the
 * background: tries 1 s after the loss, then after waits doubling up to 5 s;
 * each success restores the subscriptions in place (logged "MQTT: Connection
 * lost" and "MQTT: Reconnected"). While it is down, publishes return
 * TLV_MQTT_FAILURE and subscribes TLV_MQTT_DISCONNECTED at once, receives
 * hand out what had arrived and then TLV_MQTT_FAILURE at once. A connection
 * lost again and again within seconds of each reconnect (another client
 * with the same identity) makes the link wait 5 s between tries and log
 * that another client may share its identity. A failed first connect is not
 * retried.
 *
 * Messages wait in a queue of at most 65536 messages and 16 MiB of payload;
 * past either bound the oldest are dropped, and counted in the log.
 *
 * Addresses beginning "ssl://" connect over TLS (not in the Windows build,
 * whose client library refuses them with TLV_MQTT_BAD_PROTOCOL) and verify
 * the broker's certificate, and that it names the host, against the
 * system's trust store, or against the CA file (PEM) that the environment
 * variable TLV_MQTT_CAFILE_VARIABLE names when initialiseMQTTConnection
 * is called.
 *
 * Threads: any thread. Calls into the client library are made one at a
 * time; a receive waits on the link's own queue, never on the client, so a
 * publish, subscribe or terminate never waits behind a receive. */

#define TLV_MQTT_CAFILE_VARIABLE "TELVARIS_MQTT_CAFILE"

/* Codes of the link's own and of the client library (Paho's MQTTCLIENT_*
 * values, named here for callers without its header). */
enum TlvMqttResult {
  TLV_MQTT_OK = 0,
  TLV_MQTT_FAILURE = -1,        /* refused; also: no message within the wait */
  TLV_MQTT_DISCONNECTED = -3,   /* the connection failed or was lost */
  TLV_MQTT_NULL_PARAMETER = -6, /* a NULL address, client identifier or topic */
  TLV_MQTT_BAD_PROTOCOL = -14   /* a scheme the client library does not know */
};

/* tlMQTTRetrieveFeedbackInformation's decisions. */
enum TlvFeedbackDecision { TLV_FEEDBACK_NONE = -1, TLV_FEEDBACK_INHIBIT = 0, TLV_FEEDBACK_REWARD = 1 };

/* Connects to `address`:`port` (address is the server URI without the port,
 * e.g. "tcp://broker.example" or "ssl://broker.example") as `clientId`,
 * keep-alive 20 s, clean session, no user name or password; the connect
 * waits up to 30 s. debugLevel 0 writes no log lines (an open log stays
 * open), any other value writes every line. A connection made by an earlier
 * call is closed first. Returns TLV_MQTT_OK when connected; otherwise the
 * client library's code from creating the client (negative;
 * TLV_MQTT_NULL_PARAMETER for a NULL address or client identifier,
 * TLV_MQTT_BAD_PROTOCOL for a scheme other than tcp://, mqtt://, ws://,
 * ssl://, mqtts:// or wss://, and for the last three where the client
 * library has no TLS; TLV_MQTT_FAILURE when memory runs out) or from
 * connecting (non-zero; TLV_MQTT_FAILURE for a broker certificate that does
 * not verify). After a failed connect the link stays unusable:
 * subscribes fail, publishes return TLV_MQTT_FAILURE, receives return
 * TLV_MQTT_FAILURE at once. */
TLV_API int32_t TLV_CALL initialiseMQTTConnection(const char* address, int32_t port, const char* clientId,
                                                  int32_t debugLevel);

/* Subscribes to `topic` (QoS 0). Returns TLV_MQTT_OK, or the client
 * library's non-zero code (TLV_MQTT_NULL_PARAMETER for a NULL topic,
 * TLV_MQTT_FAILURE before any initialisation or when memory runs out,
 * TLV_MQTT_DISCONNECTED after a failed connect or a lost connection). */
TLV_API int32_t TLV_CALL subscribeToMQTTConnection(const char* topic);

/* Publishes the text `payload` without its terminating zero on `topic`.
 * Returns TLV_MQTT_OK, or TLV_MQTT_FAILURE when the publish is refused (no
 * connection, NULL topic or payload, no memory). */
TLV_API int32_t TLV_CALL publishToMQTTConnection(const char* topic, const char* payload);

/* Publishes exactly `length` bytes from `payload` (zero bytes included) on
 * `topic`. Returns TLV_MQTT_OK, or TLV_MQTT_FAILURE when the publish is
 * refused (no connection, NULL topic, NULL payload with a non-zero length,
 * negative length, no memory). */
TLV_API int32_t TLV_CALL publishToMQTTConnectionWithLength(const char* topic, const void* payload, int32_t length);

/* Waits up to 5000 ms for one message on any subscribed topic and copies its
 * payload into `buffer` as a bounded string copy: bytes up to the first zero
 * byte, then zeros, min(payload length, 430080) positions in all. `buffer`
 * must hold 430080 bytes, or the largest payload the caller expects. Returns
 * the number of positions written (the payload length when it is at most
 * 430080), or TLV_MQTT_FAILURE when no message arrived (at once when the
 * link is not connected) or `buffer` is NULL. Nothing is logged. */
TLV_API int32_t TLV_CALL pollMQTTConnectionForResponse(char* buffer);

/* Waits up to 50 ms for one message and decides it. The payload (cut to 2047
 * bytes, read up to its first zero byte) is split into tokens at { } : , space
 * and double quote. With two or more tokens the second decides: "inhibit" at
 * its start gives 0, anything else 1 (so {"feedback":"inhibit"} gives 0 and
 * {"feedback":"reward"} 1). A single token decides by itself: "inhibit" at its
 * start 0, "reward" at its start 1, anything else -1. No token, or no message
 * within 50 ms: -1. Returns a TlvFeedbackDecision. */
TLV_API int32_t TLV_CALL tlMQTTRetrieveFeedbackInformation(void);

/* Unsubscribes from `topic`. Returns TLV_MQTT_OK (the outcome is not
 * reported). */
TLV_API int32_t TLV_CALL unsubscribeFromMQTTConnection(const char* topic);

/* Ends the reconnect tries at once (a try in progress is waited for, at most
 * 5 s), disconnects (waiting up to 10 s), destroys the client and closes the
 * log. Returns TLV_MQTT_OK, also without a connection. */
TLV_API int32_t TLV_CALL terminateMQTTConnection(void);

/* ------------------------------------------------------------------------
 * Datagrams
 * ---------------------------------------------------------------------- */

/* The cloud client sends feedback values to one UDP receiver: a 72-byte
 * OSC-style bundle ("#bundle ", the time in seconds since 1970 least
 * significant byte first, zero, the message length 52 big-endian, the
 * address pattern zero-padded to 24 bytes, ",fffff" padded to 8, five
 * big-endian 32-bit values), or a JSON-like text object of integers. Every
 * datagram sent can also be appended to a capture file. Nothing is
 * received; sends are fire-and-forget. One client per process.
 *
 * Threads: any thread; calls are taken one at a time. */

enum TlvDatagramResult {
  TLV_DATAGRAM_OK = 0,
  TLV_DATAGRAM_NO_SOCKETS = -1,   /* sockets cannot be used (or no memory) */
  TLV_DATAGRAM_NO_SOCKET = -2,    /* the socket cannot be created */
  TLV_DATAGRAM_NOT_SENT = -3,     /* not sent (also: no client set up) */
  TLV_DATAGRAM_BAD_ARGUMENT = -4, /* nothing sent or set up */
  TLV_DATAGRAM_NOT_CAPTURED = -5  /* the capture file failed */
};

/* Sets the receiver (IPv4 `address` in dotted text, `port` 1-65535) and,
 * with `capture` 1, creates `capturePath` (a drive path is mapped as the
 * library's fixed files are) to capture every datagram sent, replacing
 * what was there. A client already set up is closed first. Returns
 * TLV_DATAGRAM_OK; TLV_DATAGRAM_NO_SOCKETS when sockets cannot be used or
 * memory runs out; TLV_DATAGRAM_NO_SOCKET when the socket cannot be created
 * (a capture file stays open until TerminateCloudClient);
 * TLV_DATAGRAM_BAD_ARGUMENT, nothing set up, for an address that is not
 * dotted IPv4, a port outside 1-65535 or a NULL text;
 * TLV_DATAGRAM_NOT_CAPTURED, nothing set up, when the capture file cannot
 * be created. */
TLV_API int32_t TLV_CALL InitialiseCloudClient(const char* address, int32_t port, int32_t capture,
                                               const char* capturePath);

/* Sends one bundle: `pattern` (at most 23 characters) and values[0..4],
 * the bit patterns of single-precision floats. Returns TLV_DATAGRAM_OK;
 * TLV_DATAGRAM_NOT_SENT when it cannot be sent (also before
 * InitialiseCloudClient, or when memory runs out), nothing captured;
 * TLV_DATAGRAM_BAD_ARGUMENT, nothing sent, for a longer pattern or a NULL
 * pointer; TLV_DATAGRAM_NOT_CAPTURED when it was sent but the capture file
 * could not be written. */
TLV_API int32_t TLV_CALL SendOSCPacket(const char* pattern, const uint32_t* values);

/* Sends one text object (no terminating zero), "%d" for each value:
 *   type 2: "{\n address: \"<address>\",\n args:[\n  v0,\n  v1\n ]\n},"
 *   type 4: "{address:\"<address>\",args:[v1,v5,1023,1023]},"
 *   type 6: as type 2 with v0 to v5; type 8: with v0 to v7.
 * `values` holds 2, 6, 6 or 8 elements for types 2, 4, 6 and 8. Returns as
 * SendOSCPacket; TLV_DATAGRAM_BAD_ARGUMENT, nothing sent, for another type
 * or a NULL pointer. */
TLV_API int32_t TLV_CALL SendJSONPacket(const char* address, const int32_t* values, int32_t type);

/* Closes the capture file and the socket. Returns TLV_DATAGRAM_OK, also
 * when nothing was set up. */
TLV_API int32_t TLV_CALL TerminateCloudClient(void);

/* ------------------------------------------------------------------------
 * DSU acquisition
 *
 * Ports are numbered from 0 (port index = COM number - 1); log lines print
 * the COM number. Messages go to the debug log while it is on.
 *
 * Threads: the settings (SetDataTransferMode, SetComPorts to
 * SetSampleRateTo512Hz) from one thread at a time, before a session starts.
 * SendCommandToDSU, programDSU and SetDSUProtocol run on the caller's
 * thread and may be called while the session's read thread reads the same
 * port: the library orders their writes and its reads (programDSU and
 * SetDSUProtocol open the hint port themselves; the port a session holds
 * gives them TLV_DSU_PORT_FAILED). ListActiveCOMPorts,
 * ActiveComPort and GetSerialSendingMode from any thread.
 * ---------------------------------------------------------------------- */

/* Results of the DSU link's exports. */
enum TlvDsuResult {
  TLV_DSU_OK = 0,
  TLV_DSU_BAD_ARGUMENT = -1,    /* nothing stored or sent */
  TLV_DSU_UNKNOWN_COMMAND = -2, /* programDSU: command not 1 or 2 */
  TLV_DSU_BAD_CHANNELS = -3,    /* programDSU: channels not 2, 4, 6 or 8 */
  TLV_DSU_BAD_RATE = -4,        /* programDSU: rate not 256, 512, 1024 or 2048 */
  TLV_DSU_PORT_FAILED = -5,     /* the port could not be opened, set up or written (the serial
                                   layer's own code goes to the debug log) */
  TLV_DSU_NO_MEMORY = -6        /* memory ran out; nothing sent */
};

/* The roads of the DSU stream, as SetDataTransferMode takes and returns them. */
enum TlvTransferMode {
  TLV_ROAD_SERIAL = 0,
  TLV_ROAD_TCPIP = 1,
  TLV_ROAD_MQTT = 2,
  TLV_ROAD_RELAY = 3,
  TLV_ROAD_RELAY_MONITOR = 4, /* taken by SetDataTransferMode; the road is TLV_ROAD_RELAY */
  TLV_ROAD_BAD_TEXT = -1      /* SetDataTransferMode: nothing changed */
};

/* Chooses the road of the DSU stream: 0 serial, 1 TCP/IP (address, port),
 * 2 MQTT (broker address, port, user id, publish and subscribe topics;
 * payloads "start"/"stop"), 3 relay service (as 2, payloads
 * "start/first/second/userId/last" and "stop/..."), 4 as 3 with
 * "monitor/..." to start. Any other mode falls back to serial. Returns the
 * resulting road (4 gives TLV_ROAD_RELAY), or TLV_ROAD_BAD_TEXT, changing
 * nothing, when a text the mode needs is NULL or longer than its field
 * (address 15 characters for TCP/IP, broker 31, publish topic 63, subscribe
 * topic 95, user id 99, payloads 127) or memory runs out. */
TLV_API int32_t TLV_CALL SetDataTransferMode(int32_t mode, const char* address, int32_t port, const char* userId,
                                             const char* publishTopic, const char* subscribeTopic,
                                             const char* payloadFirst, const char* payloadSecond,
                                             const char* payloadLast);

/* Stores the first and last port (kept, not used by the scan) and the hint:
 * the port index the scan tests first; 0 means no hint. Returns
 * TLV_DSU_OK, or TLV_DSU_BAD_ARGUMENT (nothing stored) when lastPort <
 * firstPort or firstPort <= 0. */
TLV_API int32_t TLV_CALL SetComPorts(int32_t reserved, int32_t firstPort, int32_t lastPort, int32_t hintPort);

/* flag 1: the scan takes the hint port untested (set up, no signals).
 * Returns TLV_DSU_OK. */
TLV_API int32_t TLV_CALL OverrideCOMPortScan(int32_t reserved, int32_t flag);

/* Writes the COM numbers (1-based, ascending) of the serial ports present
 * to `ports`, which holds 256 entries. Returns 0 when there is none, else
 * their count plus one; TLV_DSU_BAD_ARGUMENT for a NULL array;
 * TLV_DSU_NO_MEMORY. */
TLV_API int32_t TLV_CALL ListActiveCOMPorts(int32_t* ports);

/* The port index the last scan chose (0 before any). */
TLV_API int32_t TLV_CALL ActiveComPort(int32_t reserved);

/* The scan's wait for a port's answer, 0 to 10000 ms (default 200).
 * Returns TLV_DSU_OK, or TLV_DSU_BAD_ARGUMENT (unchanged) outside that
 * range. */
TLV_API int32_t TLV_CALL SetScanWaitTime(int32_t reserved, int32_t ms);

/* The settling time after a port is set up, before the start signal
 * (default 2000 ms); taken only when ms > 0. Returns the value in force
 * after the call. */
TLV_API int32_t TLV_CALL SetScanPortWaitTime(int32_t ms);

/* The read thread's pause after each stored read (default 100 ms). Returns
 * TLV_DSU_OK, or TLV_DSU_BAD_ARGUMENT (unchanged) when ms < 0. */
TLV_API int32_t TLV_CALL ReadDelay(int32_t ms);

/* Baud code 0-9 (110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600,
 * 115200; default 9) or a literal rate. Returns TLV_DSU_OK. */
TLV_API int32_t TLV_CALL SetDSUBaudRate(int32_t reserved, int32_t baud);

/* P3 packet length (5, 8, 11, 14 or 50; default 14; not checked here).
 * A port test needs more bytes than this to identify a DSU. Returns
 * TLV_DSU_OK. */
TLV_API int32_t TLV_CALL SetDSUPacketLength(int32_t reserved, int32_t length);

/* Command framing: 0 burst (0x01, the command in one write, 0x0A), any
 * other value single-step (0x02, each byte, 0x0A, one byte a write and 5 ms
 * after each; the default). Returns TLV_DSU_OK. */
TLV_API int32_t TLV_CALL SerialSendingMode(int32_t mode);

/* The sending mode as last set (default 1). */
TLV_API int32_t TLV_CALL GetSerialSendingMode(void);

/* Start and stop signals begin with 0x0A instead of 0x02 from now on, as
 * early version 3 units need. Returns TLV_DSU_OK. */
TLV_API int32_t TLV_CALL EarlyV3Support(int32_t reserved);

/* A session starts by switching the unit to 6 channels and 512 samples a
 * second. Returns TLV_DSU_OK. */
TLV_API int32_t TLV_CALL SetSampleRateTo512Hz(void);

/* Sends `length` bytes of `command` (ending early at a NUL) to the unit on
 * the session's port, framed by the sending mode. On the TCP/IP road it is
 * only logged; on the MQTT roads it is ignored (logged). Returns
 * TLV_DSU_OK; TLV_DSU_BAD_ARGUMENT for a NULL command or a negative length;
 * TLV_DSU_PORT_FAILED when a write failed (in single-step mode the rest of
 * the command is skipped and the closing 0x0A still written). */
TLV_API int32_t TLV_CALL SendCommandToDSU(const char* command, int32_t length);

/* Reprograms the unit on the hint port: command 1 sets the active channels
 * (value 2, 4, 6 or 8: "W9710" + '0'..'3'), command 2 the sample rate
 * (value 256, 512, 1024 or 2048: "W9A00" + '8', '4', '2', '1'); persist 1
 * also stores the setting ("WA000" + c, "WA010" + r). The port is opened,
 * set up and sent the stop signal first, and closed on every way out.
 * Returns TLV_DSU_OK; TLV_DSU_UNKNOWN_COMMAND, TLV_DSU_BAD_CHANNELS,
 * TLV_DSU_BAD_RATE (nothing sent beyond the stop signal);
 * TLV_DSU_PORT_FAILED when the port could not be opened, set up or
 * written; TLV_DSU_NO_MEMORY. */
TLV_API int32_t TLV_CALL programDSU(int32_t reserved, int32_t command, int32_t value, int32_t persist);

/* Sets the unit's protocol on the hint port: 2 Telvaris ("WA0008", time
 * base "WA0108"), 3 IBVA ("WA0009", "WA0180"), any other OPENEEG ("WA0003",
 * "WA0108"), each frame 0x02, six characters, 0x0A, one byte a write.
 * The port stays open (the library's next open of it closes it first).
 * Returns TLV_DSU_OK; TLV_DSU_PORT_FAILED when the port could not be
 * opened, set up or written; TLV_DSU_NO_MEMORY. */
TLV_API int32_t TLV_CALL SetDSUProtocol(int32_t reserved, int32_t protocol);

/* ------------------------------------------------------------------------
 * DSU session
 *
 * InitialiseDSU starts the session's read thread: it opens the road chosen
 * by SetDataTransferMode (serial: the port scan; TCP/IP: a connection to
 * the server's address and port; MQTT and relay service: the broker
 * connection and subscription), allocates main storage (the raw bytes,
 * SetRecordingLength) and the decoded packet store (34 arrays: packet
 * counter, auxiliary byte, channels 0-31), brings the unit online and then
 * reads, stores and decodes P3 packets until TerminateDSU, which can save
 * the raw bytes as a session file. Statuses run 7, 1, 6, then 0 while data
 * flows (9 while none comes, 8 paused, 2 out of storage) and 5 at the end;
 * 4 when no DSU was found (or the TCP/IP server refused), 3 when memory ran
 * out. On the MQTT and relay roads a link that comes back after a loss (a
 * broker restart) sends the start signal again, and again after each empty
 * read at least 3 s apart until data flows, so the stream resumes whichever
 * side reconnects first (logged).
 *
 * Typical use: settings, InitialiseDSU, poll GetSystemStatus until 0, take
 * packets with GetP3Data (or epochs with GetEpoch), PauseRecording and
 * ResumeRecording as needed, TerminateDSU(0, 1, path). A saved session is
 * read back with LoadSession (then GetP3Data, GetEpoch, PacketsInBuffer,
 * CleanUpLoadedSession) or turned into text with ExportToCSV.
 *
 * Threads: the session's exports from one thread at a time (the caller's);
 * the read thread is the library's own. GetSystemStatus, BufferLength,
 * PacketsInBuffer, TotalBytesRead, BatteryStatus and CurrentPacketNumber
 * may be called from any thread. Unloading the library with a session
 * running ends it as TerminateDSU would (without saving). On Windows, where
 * an unload cannot wait for a thread, the session's thread keeps the DLL
 * loaded instead: FreeLibrary leaves it (and the session) running until
 * TerminateDSU, through a new LoadLibrary, or the process's end.
 * ---------------------------------------------------------------------- */

/* Session statuses (GetSystemStatus) and their names in the debug log. */
enum TlvDsuStatus {
  TLV_DSU_SYSTEM_OK = 0,           /* "System OK": storage allocated, data stored */
  TLV_DSU_WAITING_FOR_DSU = 1,     /* "Waiting for DSU": the thread opens its road */
  TLV_DSU_END_OF_MEMORY = 2,       /* "End of memory": main storage or the decoded store is full */
  TLV_DSU_ALLOCATION_FAILURE = 3,  /* "Memory Allocation Failure" */
  TLV_DSU_SERIAL_PORT_FAILURE = 4, /* "Serial Port Failure": no DSU found, or no TCP/IP connection */
  TLV_DSU_CLOSEDOWN_COMPLETE = 5,  /* "CloseDown Complete": the read thread has ended */
  TLV_DSU_ALLOCATING_MEMORY = 6,   /* "Allocating Memory" */
  TLV_DSU_INITIALISING = 7,        /* "Initialising DSU" */
  TLV_DSU_PAUSED = 8,              /* "DSU Paused" */
  TLV_DSU_WAITING_FOR_DATA = 9     /* "Waiting for DATA": a read brought nothing */
};

/* The name of a status code, as above ("Unknown status" for another code). */
static inline const char* tlvDsuStatusName(int32_t status) {
  switch (status) {
    case TLV_DSU_SYSTEM_OK: return "System OK";
    case TLV_DSU_WAITING_FOR_DSU: return "Waiting for DSU";
    case TLV_DSU_END_OF_MEMORY: return "End of memory";
    case TLV_DSU_ALLOCATION_FAILURE: return "Memory Allocation Failure";
    case TLV_DSU_SERIAL_PORT_FAILURE: return "Serial Port Failure";
    case TLV_DSU_CLOSEDOWN_COMPLETE: return "CloseDown Complete";
    case TLV_DSU_ALLOCATING_MEMORY: return "Allocating Memory";
    case TLV_DSU_INITIALISING: return "Initialising DSU";
    case TLV_DSU_PAUSED: return "DSU Paused";
    case TLV_DSU_WAITING_FOR_DATA: return "Waiting for DATA";
    default: return "Unknown status";
  }
}

enum TlvInitResult {
  TLV_INIT_STARTED = 0,
  TLV_INIT_NOT_STARTED = 1 /* no thread, or the last session's thread still runs (nothing changed) */
};

enum TlvTerminateResult {
  TLV_TERMINATE_OK = 0,
  TLV_TERMINATE_SAVE_FAILED = -1 /* the session file could not be written; the storage is kept */
};

enum TlvP3Result {
  TLV_P3_OK = 0,
  TLV_P3_NO_NEW_PACKET = -1,   /* nothing new since the last packet handed out (or readIndex < 0) */
  TLV_P3_NOTHING_DECODED = -2, /* no packet decoded in this session */
  TLV_P3_NOT_RUNNING = -3,     /* the status is not TLV_DSU_SYSTEM_OK */
  TLV_P3_BAD_ARGUMENT = -4     /* channels NULL with a count above 0; nothing handed out */
};

enum TlvButtonResult { TLV_BUTTON_REQUESTED = 0, TLV_BUTTON_MONITOR_MODE = 1 };

enum TlvRecordingResult { TLV_RECORDING_OK = 0, TLV_RECORDING_BAD_LENGTH = -1 };

enum TlvMonitorMode { TLV_MONITOR_ALLOCATE = 1, TLV_MONITOR_RELEASE = 2, TLV_MONITOR_ON = 3, TLV_RECORD_ON = 4 };
enum TlvMonitorResult {
  TLV_MONITOR_OK = 0,
  TLV_MONITOR_REFUSED = 1 /* no monitor storage (memory ran out, or not allocated), or no session */
};

enum TlvLoadResult {
  TLV_LOAD_OK = 0,
  TLV_LOAD_CANNOT_OPEN = -1,
  TLV_LOAD_SHORT_READ = -2,
  TLV_LOAD_SESSION_RUNNING = -3, /* a session runs; nothing changed */
  TLV_LOAD_NO_MEMORY = 1         /* the decoded store (or the file's bytes) could not be allocated */
};

enum TlvExportResult {
  TLV_EXPORT_OK = 0,
  TLV_EXPORT_CANNOT_WRITE = -1 /* the CSV file cannot be created or written (the loaded packets stay) */
};

enum TlvEpochResult {
  TLV_EPOCH_OK = 0,
  TLV_EPOCH_NOT_ENOUGH_DATA = -1,
  TLV_EPOCH_UNKNOWN_CHANNEL = -2,
  TLV_EPOCH_NOT_RUNNING = -3, /* the status is not TLV_DSU_SYSTEM_OK */
  TLV_EPOCH_BAD_ARGUMENT = -4 /* values NULL */
};

/* Starts a session: switches the debug log on when "c:\telvaris.log"
 * exists (emptying it), sets status 7 and starts the read thread. A thread
 * of an earlier session that has ended is joined; storage an earlier
 * session or LoadSession still holds is released; the out-of-memory flag
 * is cleared. Returns TLV_INIT_STARTED; TLV_INIT_NOT_STARTED when the
 * thread cannot be created, or (logged, nothing changed) while the last
 * session's thread still runs (it was told to end inside an MQTT connect,
 * which cannot be cut short; it ends when the connect returns). */
TLV_API int32_t TLV_CALL InitialiseDSU(int32_t reserved);

/* Ends the session: the read thread leaves its loop, sends the stop signal,
 * closes its road and ends with status 5; this waits for it at most seven
 * times 200 ms (with the wine hack: 500 ms, then for its end as well). A
 * session still scanning or connecting ends without taking storage. With
 * saveSession 1 the received bytes (main storage, or the monitor storage in
 * monitor mode) are written to sessionPath, exactly as received, through a
 * temporary file beside it that then takes its name (in place when the
 * folder takes no new file); then main storage and the decoded store are
 * released and monitor mode ends. Returns TLV_TERMINATE_OK, also when no
 * session ran ("Memory not allocated"); TLV_TERMINATE_SAVE_FAILED when the
 * file could not be written: the storage is then kept, and another
 * TerminateDSU can still save it (the next InitialiseDSU or LoadSession
 * releases it). */
TLV_API int32_t TLV_CALL TerminateDSU(int32_t reserved, int32_t saveSession, const char* sessionPath);

/* Sends the stop signal and keeps reading, discarding what comes (status
 * 8); not while waiting for the DSU (1) or for data (9), nor after the end
 * (5). Returns 0. */
TLV_API int32_t TLV_CALL PauseRecording(int32_t reserved);

/* Sends the start signal and stores again from the next read (the status
 * returns to 0 with it). Returns 0. */
TLV_API int32_t TLV_CALL ResumeRecording(int32_t reserved);

/* TLV_DSU_END_OF_MEMORY once storage ran out in this session, else the
 * status (TlvDsuStatus). */
TLV_API int32_t TLV_CALL GetSystemStatus(int32_t reserved);

/* The last read's result: bytes, 0, or a negative serial code. */
TLV_API int32_t TLV_CALL BufferLength(int32_t reserved);

/* Packets decoded and not yet handed out (negative after SetPacketNumber
 * beyond them). */
TLV_API int32_t TLV_CALL PacketsInBuffer(int32_t reserved);

/* Bytes stored in this session. */
TLV_API int32_t TLV_CALL TotalBytesRead(int32_t reserved);

/* 1 (set at every start and resume). */
TLV_API int32_t TLV_CALL BatteryStatus(void);

/* flag non-zero: TerminateDSU waits 500 ms instead of watching the status
 * (it still waits for the thread before it releases storage). Returns 0. */
TLV_API int32_t TLV_CALL WineHack(int32_t flag);

/* The next decoded packet: `count` (held to 0..32) channels into
 * `channels`, its counter into counterOut and its auxiliary byte into
 * auxOut (-1 marks a manual button press); 1 always into formatOut. NULL
 * out pointers are skipped. Returns TLV_P3_OK and moves on one packet;
 * otherwise -1 goes to counterOut: TLV_P3_NOT_RUNNING, TLV_P3_NOTHING_DECODED,
 * TLV_P3_NO_NEW_PACKET, TLV_P3_BAD_ARGUMENT. */
TLV_API int32_t TLV_CALL GetP3Data(int32_t* channels, int32_t count, int32_t* formatOut, int32_t* counterOut,
                                   int32_t* auxOut);

/* Unpacks one P3 packet of `length` bytes: counter and auxiliary values,
 * and channels 0-7 for 5, 8, 11 and 14 bytes (those not carried set to 0;
 * `channels` holds 8) or 0-31 for 50 (it holds 32); any other length gives
 * the two values only. No session state is touched; NULL pointers are
 * skipped (a NULL packet: nothing written). Returns 0. */
TLV_API int32_t TLV_CALL StandaloneDecodeP3Packet(int32_t* channels, const uint8_t* packet, int32_t length,
                                                  int32_t* counterOut, int32_t* auxOut);

/* The index of the next packet GetP3Data hands out. */
TLV_API int32_t TLV_CALL CurrentPacketNumber(int32_t reserved);

/* Sets that index as given (GetP3Data hands out nothing for an index
 * outside the decoded packets). Returns 0. */
TLV_API int32_t TLV_CALL SetPacketNumber(int32_t reserved, int32_t value);

/* Marks the next decoded packet as a manual button press (0xFF in its
 * auxiliary byte, also in the saved session). Returns TLV_BUTTON_REQUESTED;
 * TLV_BUTTON_MONITOR_MODE (no mark) in monitor mode. */
TLV_API int32_t TLV_CALL SetManualButton(int32_t reserved, int32_t reserved2);

/* 1 to 9986 minutes of recording from the next session or load on: main
 * storage of minutes x 215040 bytes, minutes x 15360 decoded packets.
 * Returns TLV_RECORDING_OK; TLV_RECORDING_BAD_LENGTH (nothing changed)
 * outside that range. */
TLV_API int32_t TLV_CALL SetRecordingLength(int32_t minutes);

/* TLV_MONITOR_ALLOCATE: the monitor storage (12902400 bytes; status 3 and
 * TLV_MONITOR_REFUSED when memory runs out); TLV_MONITOR_RELEASE: frees it
 * (back to record mode first); TLV_MONITOR_ON: the running session's bytes
 * go to the monitor storage, from its start, instead of extending the
 * recording (refused without monitor storage or a running session);
 * TLV_RECORD_ON: recording goes on where it stopped (refused without a
 * running session). A switch falls between two reads of the read thread.
 * Decoded packets go to the decoded store either way. Returns
 * TLV_MONITOR_OK (also for an unknown mode, logged) or TLV_MONITOR_REFUSED. */
TLV_API int32_t TLV_CALL MonitorMode(int32_t mode);

/* Reads a session file and decodes it with the current packet length into
 * a new decoded store (numberOfElements packets; the rest is counted as
 * skipped); status 0 afterwards, and an earlier session's overflow no
 * longer shows. An earlier session's or load's storage is released first. Returns TLV_LOAD_OK, TLV_LOAD_CANNOT_OPEN,
 * TLV_LOAD_SHORT_READ, TLV_LOAD_SESSION_RUNNING (nothing changed),
 * TLV_LOAD_NO_MEMORY (status 3). */
TLV_API int32_t TLV_CALL LoadSession(const char* path);

/* Releases the decoded store of a loaded session. Returns TLV_LOAD_OK;
 * TLV_LOAD_SESSION_RUNNING (nothing released) while a session runs. */
TLV_API int32_t TLV_CALL CleanUpLoadedSession(void);

/* Loads a session file (LoadSession) and writes it as CSV text: the header
 * "Line #,PacketCounter,AuxByte,Channel0,...,Channel31", then one line per
 * packet: its number from 1, counter, auxiliary byte (-1: button) and the
 * 32 channel values (0 where the packet length carries none); then releases
 * the packets. Returns TLV_EXPORT_OK, a LoadSession result other than 0,
 * or TLV_EXPORT_CANNOT_WRITE. */
TLV_API int32_t TLV_CALL ExportToCSV(const char* sessionPath, const char* csvPath);

/* `epochs` x 256 samples of channel 0-7 into `values`: the latest ones
 * (sequential 0), or those following the last sequential call (sequential
 * non-zero; from the start again when the decoded packets were replaced);
 * raw 1 gives the stored values, any other value the library's band-pass
 * filter (about 0.5-30 Hz at 256 samples a second; one filter state for
 * all calls and channels) truncated to integers. Returns TLV_EPOCH_OK;
 * TLV_EPOCH_NOT_RUNNING; TLV_EPOCH_NOT_ENOUGH_DATA when the decoded packets
 * do not hold the whole request; TLV_EPOCH_UNKNOWN_CHANNEL;
 * TLV_EPOCH_BAD_ARGUMENT. */
TLV_API int32_t TLV_CALL GetEpoch(int32_t reserved, int32_t channel, int32_t* values, int32_t epochs,
                                  int32_t sequential, int32_t raw);

/* Framing errors: the times the decoder lost a packet's frame marker and
 * skipped to the next one ("Errors" of the log's statistics). LoadSession
 * starts the count at 0 and gives the loaded file's; a session adds its
 * own to what is there. Any thread may call it. */
TLV_API int32_t TLV_CALL PositioningErrors(int32_t reserved);

/* ------------------------------------------------------------------------
 * Signal processing
 *
 * Filter design and sample-by-sample filters, a 256-sample block buffer,
 * coherence, regression, correlation and RR intervals. Frequencies given as
 * fractions are fractions of the sample rate (0.5 is the Nyquist
 * frequency).
 *
 * Threads: each function keeps one set of state per process and is driven
 * from one thread at a time (different functions may run on different
 * threads).
 * ---------------------------------------------------------------------- */

enum TlvDspResult {
  TLV_DSP_OK = 0,
  TLV_DSP_BAD_ARGUMENT = -1,      /* nothing computed, no state changed */
  TLV_NOTCH_FILLING = -1,         /* processNotchFilter: the block is not full yet */
  TLV_NOTCH_FULL = 1,             /* processNotchFilter: this sample completed the block */
  TLV_COHERENCE_NO_CSV = -1,      /* the diagnostic file cannot be created or written */
  TLV_COHERENCE_NO_MEMORY = -2,   /* nothing computed */
  TLV_COHERENCE_BAD_ARGUMENT = -3,/* nothing computed */
  TLV_REGRESSION_FLAT = 1,        /* LinearRegression: the x values do not vary */
  TLV_RR_NO_BEAT = -1,            /* RRInterval: this sample is no beat */
  TLV_RR_OUT_OF_LIMITS = -2       /* RRInterval: a beat outside the limits */
};

/* Designs a recursive (IIR) filter from an option string and hands back its
 * gains and feedback coefficients.
 *
 * `options` (at most 127 characters): a first word that is ignored, then
 * option words separated by single spaces:
 *   -Be | -Bu | -Ch ripple | -Re Q | -Pi    Bessel, Butterworth, Chebyshev
 *        (ripple in dB, negative), two-pole resonator (Q a number or "Inf"),
 *        proportional-integral section; exactly one
 *   -Lp | -Hp | -Bp | -Bs | -Ap   low-, high-, band-pass, band-stop,
 *        all-pass (-Ap with -Re only)
 *   and letter runs ("-o", "-ao", ...): a alpha1 [alpha2] corner
 *        frequencies; o order (1 to 10); p n... use only the listed
 *        prototype poles; w no pre-warping; z matched z-transform instead of
 *        the bilinear transform; Z f a pair of zeros at frequency f; l no
 *        effect. Values of one word are read in the order ripple, corners,
 *        extra-zero frequency, order, pole numbers, Q.
 * gains[3]: magnitudes of the gain at DC, at the centre frequency (the
 *   corner for low- and high-pass) and at the Nyquist frequency.
 * coefficients: room for 22 doubles; receives one feedback coefficient per
 *   z-plane pole (2 x order for band-pass and band-stop, order otherwise,
 *   2 for a resonator, 1 for the PI section, plus 2 with an extra zero
 *   pair when that adds poles). Element i multiplies the output M - i
 *   samples back (M coefficients): element 0 belongs to the oldest output.
 *
 * Returns TLV_DSP_OK, or TLV_DSP_BAD_ARGUMENT for an invalid option string
 * (no or several prototypes,
 * a missing band form, an order outside 1 to 10, a pole number at or above
 * the order, a missing corner frequency, an unknown option, a value missing
 * at the end, a ripple of 0 or more, a pole mask that splits a conjugate
 * pair, a design whose feedback coefficients are not finite numbers (no
 * band width, a corner or Q of inf or nan), a string over 127 characters, a
 * NULL pointer). On -1 the process
 * goes on, `gains` and `coefficients` are untouched and the kept design
 * values stay as they were. Values a string leaves out keep what the last
 * successful call gave them. The PI section's DC gain is infinite (its pole
 * lies at z = 1). */
TLV_API int32_t TLV_CALL FilterGen(int32_t reserved, const char* options, double* gains, double* coefficients);

/* One step of a sixth-order band-pass section with numerator (1 - z^-2)^3.
 * x and y: the caller's input and output histories, 7 doubles each, element
 * 6 newest; zero them before the first sample. coefficients: 6 doubles,
 * element k multiplies y[k]. The input is divided by `gain`. `shift` is the
 * number of history moves minus one: 5 for the seven-element histories;
 * above 5 counts as 5, below 0 moves nothing. Writes the new output to
 * *output. Returns TLV_DSP_OK; TLV_DSP_BAD_ARGUMENT for a NULL pointer. */
TLV_API int32_t TLV_CALL BpFilter(double* output, double* x, double* y, const double* coefficients, double gain,
                                  float input, int32_t shift);

/* A cascade of `sections` identical second-order band-pass sections
 * (numerator 1 - z^-2). x and y: 3 doubles per section (section s uses
 * elements 3s to 3s+2, the last newest), owned and zeroed by the caller.
 * coefficients: 2 doubles (oldest output first), shared by all sections.
 * Every section divides its input by `gain`. With 0 sections *output is left
 * untouched. Returns TLV_DSP_OK; TLV_DSP_BAD_ARGUMENT for a NULL pointer. */
TLV_API int32_t TLV_CALL FirstOrderBandPass(double* output, double* x, double* y, const double* coefficients,
                                            double gain, float input, int32_t sections);

/* Eight brain-map bands for each of eight channels (at 256 samples per
 * second: 1-4, 4-8, 8-12, 12-16, 16-20, 20-24, 24-28, 28-32 Hz), one new
 * sample per channel per call. input: 8 doubles. output: 64 doubles,
 * element 8 * channel + band - 1 (band 1 to 8): the root-mean-square of the
 * band's output over the last complete block of 8 calls; 0 on the first 8
 * calls. The state is never reset. Returns TLV_DSP_OK; TLV_DSP_BAD_ARGUMENT
 * for a NULL pointer. */
TLV_API int32_t TLV_CALL BrainMapFilters(const double* input, double* output);

/* A block buffer of 256 samples under the notch filter's names; no
 * filtering is applied. initialiseNotchFilter starts the block again and
 * returns TLV_DSP_OK. */
TLV_API int32_t TLV_CALL initialiseNotchFilter(void);

/* Stores one sample. Returns TLV_NOTCH_FILLING while the block is filling
 * and TLV_NOTCH_FULL when this sample completed it (the next sample starts
 * it again). The two trailing arguments are ignored. */
TLV_API int32_t TLV_CALL processNotchFilter(int32_t sample, int32_t reserved1, int32_t reserved2);

/* Writes samples 0 to 9 of the block into values (10 int32; skipped when
 * NULL) and returns sample 0. Samples round-trip through a float: values
 * beyond 2^24 in magnitude come back rounded, INT32_MAX as INT32_MAX. */
TLV_API int32_t TLV_CALL returnNotchFilterValues(int32_t* values, int32_t reserved);

/* Magnitude-squared coherence of two channels of `counter` int32 samples,
 * epoch by epoch. Each epoch averages up to 16 half-overlapping segments of
 * `pps` samples (linearly detrended, symmetric Hann window, FFT length N =
 * the smallest power of two >= max(2, pps)); reading carries on from epoch
 * to epoch. Epoch e writes bin k (k * sampfreq / N Hz) to
 * output[128 * e + k] for k below min(N/2, 128); an epoch that finds no
 * samples leaves its block untouched. output must hold
 * 128 * (numEpochs - 1) + min(N/2, 128) doubles.
 * debug 1 also writes "c:\telvaris\export\coherence.csv" (on Linux
 * $TELVARIS_ROOT/telvaris/export/coherence.csv; the folder must exist):
 * samples 0 to 99 of both channels (fewer when counter is below 100), the
 * arguments, then per epoch a line of 100 values from the start of its
 * block (past the epoch's own values, whatever the block held); the last
 * epoch's line stops at min(100, N/2), where the array may end. The file is
 * replaced whole at the end.
 * Returns TLV_DSP_OK; TLV_COHERENCE_NO_CSV when the CSV file cannot be
 * created or written (nothing is computed when it cannot be created);
 * TLV_COHERENCE_NO_MEMORY when memory runs out (nothing is computed);
 * TLV_COHERENCE_BAD_ARGUMENT when pps is below 2 or above 32768 or a needed
 * pointer is NULL (nothing is computed). */
TLV_API int32_t TLV_CALL GenerateCoherenceValues(int32_t counter, const int32_t* channel1, const int32_t* channel2,
                                                 double* output, int32_t numEpochs, int32_t sampfreq, int32_t pps,
                                                 int32_t debug);

/* Least-squares line through n pairs (x[i], y[i]). Writes the slope, the
 * intercept and, when `coefficient` is not NULL, the correlation
 * coefficient. Returns TLV_DSP_OK; TLV_REGRESSION_FLAT when the x values do
 * not vary (or n <= 0): all outputs are then 0; TLV_DSP_BAD_ARGUMENT for a
 * NULL slope, intercept, x or y. */
TLV_API int32_t TLV_CALL LinearRegression(int32_t n, const double* x, const double* y, double* slope, double* intercept,
                                          double* coefficient);

/* Pearson's correlation coefficient of x and y (n doubles each). NaN or an
 * infinity when either array does not vary; NaN for n <= 0 or a NULL
 * array. */
TLV_API double TLV_CALL correl(const double* x, const double* y, int32_t n);

/* RR intervals or pulse rate from a raw EKG/PPG signal, one sample per call.
 * A negative sample resets the detector (call it before each recording) and
 * returns 0. Otherwise, with useFilter 1 the sample first runs through
 * filterOrder sections (at most 33; 0 passes it on as it is) of a 0.5-40 Hz
 * band-pass made for 256 samples per second. A beat is a sample strictly
 * above the peak follower (which decays by the fraction agcValue per
 * sample) more than samplesPerSecond / 2 samples after the previous beat.
 * Returns TLV_RR_NO_BEAT when the sample is no beat; for a beat whose rate
 * (60 / interval, truncated) lies within lowerLimit..upperLimit beats per
 * minute, the rate (displayAsPulse non-zero) or the interval in
 * milliseconds (displayAsPulse 0); for a beat outside the limits
 * TLV_RR_OUT_OF_LIMITS, or with duplicatePrevious 1 the last valid result
 * (0 before any). */
TLV_API float TLV_CALL RRInterval(float sample, int32_t samplesPerSecond, int32_t lowerLimit, int32_t upperLimit,
                                  float agcValue, int32_t filterOrder, int32_t duplicatePrevious, int32_t useFilter,
                                  int32_t displayAsPulse);

/* ------------------------------------------------------------------------
 * Feedback outputs
 * ---------------------------------------------------------------------- */

/* MIDI voice: feedback tones as MIDI notes, queued by the caller and played
 * one after another, never overlapping, by a player thread of the library
 * on channel 1 (program change, note on, the note's length, note off). On
 * Linux the notes sound through FluidSynth with the system's General MIDI
 * sound font, on the default sound server; with TELVARIS_MIDI_PORT set to
 * an ALSA sequencer port ("client:port", e.g. "128:0", or a client's name)
 * they go to that port instead (read each time a player starts). Where
 * there is no synthesizer, sound font, sound server or port, each note is
 * skipped silently once its length has passed. The queue holds 10000 notes
 * not yet played; more overwrite the oldest of them (those are never
 * played).
 *
 * Threads: any thread; notes queued from several threads play in the order
 * their calls took effect. The player thread starts with the first note and
 * ends once the queue has drained. Players load the synthesizer's
 * libraries, so once one has started the library stays loaded until the
 * process ends (unloading it then is a no-op); the process's end stops the
 * player, cutting its note short. */

enum TlvMidiResult {
  TLV_MIDI_OK = 0,
  TLV_MIDI_BAD_ARGUMENT = -1, /* velocity or instrument outside 0-127, or a note outside -11..116; nothing queued */
  TLV_MIDI_NO_PLAYER = -2     /* no player thread could be started; the note waits for the next call's player */
};

/* Queues one note: `duration` in milliseconds (below 5 plays 5), `velocity`
 * 0-127, `instrument` the General MIDI program number 0-127 (73 a flute),
 * `note` the note number: MIDI note note + 11 (note 58 is the A of 440 Hz,
 * MIDI note 69). Returns at once (1 ms later when it starts the player):
 * TLV_MIDI_OK, TLV_MIDI_BAD_ARGUMENT or TLV_MIDI_NO_PLAYER. */
TLV_API int32_t TLV_CALL MidiVoice(int32_t duration, int32_t velocity, int32_t instrument, int32_t note);

/* MP3 player: a music file as feedback, looping while the trainee earns
 * reward and muted and paused otherwise. The exports only set a command
 * word; the player thread carries out the latest command (one overwritten
 * before the thread saw it is never carried out) through MCI command
 * strings, here over GStreamer on the default sound server. Errors of the
 * media device (no file, no sound server, nothing opened) are ignored.
 * With the debug log on (SetDebugMode), each step writes an "Audio: " line
 * there.
 *
 * Threads: one thread at a time. Once InitialiseMP3 has started a player,
 * the library stays loaded until the process ends (as for the MIDI voice),
 * and the process's end stops a player still running. */

enum TlvMp3Result {
  TLV_MP3_OK = 0,
  TLV_MP3_NO_THREAD = 1,  /* InitialiseMP3: the player thread cannot be created (or memory ran out) */
  TLV_MP3_BAD_PATH = -1   /* InitialiseMP3: path NULL or longer than 511 characters; nothing done */
};

/* Stores the file's path (at most 511 characters) and starts the player
 * thread, paused. While a player runs, changes nothing, logs "Audio: Player
 * already running" and returns TLV_MP3_OK: to change the music, call
 * terminateMP3 first. Returns TLV_MP3_OK, TLV_MP3_NO_THREAD or
 * TLV_MP3_BAD_PATH. */
TLV_API int32_t TLV_CALL InitialiseMP3(const char* path);

/* Opens the file and plays it in a loop. Returns TLV_MP3_OK. */
TLV_API int32_t TLV_CALL openMP3(void);

/* Plays on: after muteMP3 resumes at full volume. Returns TLV_MP3_OK. */
TLV_API int32_t TLV_CALL playMP3(void);

/* Mutes and pauses. Returns TLV_MP3_OK. */
TLV_API int32_t TLV_CALL muteMP3(void);

/* Mutes, waits 500 ms, ends the player thread and waits for it, then
 * closes the file (also when none was opened). Returns TLV_MP3_OK. */
TLV_API int32_t TLV_CALL terminateMP3(void);

/* The Procyon audio-visual entrainment device on a serial port (19200
 * baud, 8N1, DTR and RTS raised): checksummed packets starting 0xA3. At
 * debug level 1 and above the session is logged to "procyon.log" in the
 * current folder; level 2 adds every packet sent, the device's 6-byte reply
 * (read 200 ms after each packet) and the steps of every rate code; level 3 adds the initial
 * segment's checksum on standard error and its 63 bytes in "procyon.dat".
 * One device per process.
 *
 * Threads: one thread at a time (the calls share the port and the log). */

enum TlvProcyonResult {
  TLV_PROCYON_OK = 0,
  TLV_PROCYON_PORT_FAILED = 1,   /* initialiseAVESession: the port cannot be set up */
  TLV_PROCYON_NO_RATE_CODE = -1  /* a rate the device's two bytes cannot carry; nothing sent */
};

/* The device's port, counted as the serial layer counts (0 is COM1, the
 * port until this is called). Returns TLV_PROCYON_OK. */
TLV_API int32_t TLV_CALL SetProcyonComPort(int32_t port);

/* 0 no log, 1 log file, 2 packets and replies, 3 checksum and segment
 * copy. Returns TLV_PROCYON_OK. */
TLV_API int32_t TLV_CALL SetProcyonDebugLevel(int32_t level);

/* Opens and sets up the port, sends stop, the two start-up packets and the
 * initial segment with the light and sound rates (Hz). A session still
 * open is closed first. Returns TLV_PROCYON_OK; TLV_PROCYON_PORT_FAILED
 * when the port cannot be set up (the log says the serial layer's code, -4
 * when memory ran out); TLV_PROCYON_NO_RATE_CODE, nothing done, when a rate
 * has no code in the device's two bytes: 0 or less, light above 125 Hz,
 * sound above 1000 Hz (light 125 Hz and sound 1000 Hz go as 0x0FFF, the
 * nearest code). */
TLV_API int32_t TLV_CALL initialiseAVESession(int32_t lightRate, int32_t soundRate);

/* Sends one function change: type 0 light, any other sound; the low 8
 * bits of `function`. Functions 0-9 and 96-99 carry `value` as a rate
 * code (Hz), the others its low 8 bits. Returns TLV_PROCYON_OK, also when
 * the write fails (only the level-2 log tells); TLV_PROCYON_NO_RATE_CODE,
 * nothing sent, when a rate function's value has no code: 0 or less, light
 * above 125 Hz, sound above 1000 Hz. */
TLV_API int32_t TLV_CALL relayToProcyon(int32_t type, int32_t function, int32_t value);

/* Sends the stop packet. Returns TLV_PROCYON_OK. */
TLV_API int32_t TLV_CALL stopProcyonSession(void);

/* Logs the end, sends the stop packet, closes the log and the port.
 * Returns TLV_PROCYON_OK. */
TLV_API int32_t TLV_CALL terminateAVESession(void);

#ifdef __cplusplus
}
#endif

#endif /* TELVARIS_H */
