#include <cstdlib>
#include <cstring>

#include "platform/bstr.h"

namespace platform {

Bstr allocBstr(std::u16string_view text) {
  const uint32_t bytes = static_cast<uint32_t>(text.size() * sizeof(char16_t));
  auto* block = static_cast<unsigned char*>(std::malloc(sizeof(uint32_t) + bytes + sizeof(uint16_t)));
  if (!block) return nullptr;
  std::memcpy(block, &bytes, sizeof bytes);
  auto* s = reinterpret_cast<uint16_t*>(block + sizeof(uint32_t));
  if (bytes) std::memcpy(s, text.data(), bytes);
  s[text.size()] = 0;
  return s;
}

void freeBstr(Bstr s) {
  if (s) std::free(reinterpret_cast<unsigned char*>(s) - sizeof(uint32_t));
}

uint32_t bstrLength(const uint16_t* s) {
  if (!s) return 0;
  uint32_t bytes = 0;
  std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(s) - sizeof(uint32_t), sizeof bytes);
  return bytes / sizeof(uint16_t);
}

}  // namespace platform
