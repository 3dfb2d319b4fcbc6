// The road the DSU stream takes (serial, TCP/IP, MQTT, relay service) and
// its endpoints, set by SetDataTransferMode before a session starts.
#pragma once

#include <cstdint>
#include <string>

namespace dsu {

enum TransferMode : int32_t { kSerial = 0, kTcpIp = 1, kMqtt = 2, kRelay = 3 };

// The endpoints as last set; copied out whole so a reader never sees half
// of an update.
struct TransferSettings {
  int32_t mode = kSerial;
  std::string serverAddress;  // TCP/IP peer
  int32_t serverPort = 0;
  std::string brokerAddress;
  int32_t brokerPort = 0;
  std::string publishTopic;
  std::string subscribeTopic;
  std::string userId;
  std::string startPayload;
  std::string stopPayload;
};

TransferSettings transferSettings();
int32_t transferMode();

// SetDataTransferMode (telvaris.h): the resulting mode, or TLV_ROAD_BAD_TEXT
// with nothing changed. May throw std::bad_alloc, also with nothing changed.
int32_t setTransferMode(int32_t mode, const char* address, int32_t port, const char* userId,
                        const char* publishTopic, const char* subscribeTopic, const char* payloadFirst,
                        const char* payloadSecond, const char* payloadLast);

// Field capacities, terminator included, as the Windows build keeps them.
constexpr size_t kServerAddressCapacity = 16;
constexpr size_t kBrokerAddressCapacity = 32;
constexpr size_t kPublishTopicCapacity = 64;
constexpr size_t kSubscribeTopicCapacity = 96;
constexpr size_t kUserIdCapacity = 100;
constexpr size_t kPayloadCapacity = 128;

}  // namespace dsu
