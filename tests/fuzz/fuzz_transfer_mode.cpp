// SetDataTransferMode with whatever text the main application hands it:
// the first byte is the mode, the next two the port, and the rest the seven
// texts (address, user id, publish and subscribe topics, the three payload
// parts) separated by zero bytes; texts the input runs out of are NULL. A
// call sets the road with every field inside its capacity, or refuses and
// changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dsu/transfer_mode.h"
#include "fuzz_support.h"
#include "telvaris.h"

namespace {

bool same(const dsu::TransferSettings& a, const dsu::TransferSettings& b) {
  return a.mode == b.mode && a.serverAddress == b.serverAddress && a.serverPort == b.serverPort &&
         a.brokerAddress == b.brokerAddress && a.brokerPort == b.brokerPort && a.publishTopic == b.publishTopic &&
         a.subscribeTopic == b.subscribeTopic && a.userId == b.userId && a.startPayload == b.startPayload &&
         a.stopPayload == b.stopPayload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const int32_t mode = static_cast<int8_t>(data[0]);
  const int32_t port = data[1] | (data[2] << 8);
  std::vector<std::string> texts;
  std::string current;
  for (size_t i = 3; i < size && texts.size() < 7; ++i) {
    if (data[i] == 0) {
      texts.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (texts.size() < 7 && !current.empty()) texts.push_back(current);
  const char* text[7] = {};
  for (size_t i = 0; i < texts.size(); ++i) text[i] = texts[i].c_str();

  const dsu::TransferSettings before = dsu::transferSettings();
  const int32_t result = SetDataTransferMode(mode, text[0], port, text[1], text[2], text[3], text[4], text[5], text[6]);
  const dsu::TransferSettings after = dsu::transferSettings();
  if (result == TLV_ROAD_BAD_TEXT) {
    fuzzsupport::require(same(before, after), "a refused call changes nothing");
    return 0;
  }
  fuzzsupport::require(result >= TLV_ROAD_SERIAL && result <= TLV_ROAD_RELAY && result == after.mode,
                       "the result is the road set");
  fuzzsupport::require(
      after.serverAddress.size() < dsu::kServerAddressCapacity &&
          after.brokerAddress.size() < dsu::kBrokerAddressCapacity &&
          after.publishTopic.size() < dsu::kPublishTopicCapacity &&
          after.subscribeTopic.size() < dsu::kSubscribeTopicCapacity && after.userId.size() < dsu::kUserIdCapacity &&
          after.startPayload.size() < dsu::kPayloadCapacity && after.stopPayload.size() < dsu::kPayloadCapacity,
      "every field fits its capacity");
  return 0;
}
