// The MQTT link's own text log, "c:\telvaris\MQTT.log".
//
// The debug level given when the link is initialised is the switch: 0
// writes nothing, any other value writes every line. The file is created
// (emptied) by the first initialisation with logging on and stays open,
// unbuffered, until the link is terminated. Lines carry no time stamp and are
// written exactly as formed: text inside them (a topic, a payload) is never
// taken for a format.
#pragma once

#include <cstdint>
#include <string>

#if defined(__GNUC__)
#define MQTT_LOG_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define MQTT_LOG_PRINTF(fmt, args)
#endif

namespace net::mqttlog {

constexpr const char* kFile = "c:\\telvaris\\MQTT.log";

// Sets the switch; with logging on, opens the file unless it is open. A file
// that cannot be created leaves logging skipped.
void setLevel(int32_t debugLevel);

// One line, formed printf-style and then written as it stands. A line that
// cannot be formed for want of memory is dropped, like a failed write.
void line(const char* format, ...) noexcept MQTT_LOG_PRINTF(1, 2);

// Makes the log's state now, so that it outlives every static object made
// after this call (they are destroyed in the reverse order), for owners of
// threads that may still log while the process ends.
void prepare();

// Closes the file if it is open (the switch stays as it was).
void close();

// printf-style formatting into a string of whatever length it needs.
std::string format(const char* format, ...) MQTT_LOG_PRINTF(1, 2);

}  // namespace net::mqttlog
