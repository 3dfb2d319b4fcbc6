// OLE Automation strings: UTF-16 text preceded by its length in bytes (a
// 32-bit word just before the first character) and followed by a zero
// character. The pointer points at the first character. SysAllocString on
// Windows; the same layout built here.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

using Bstr = uint16_t*;

// A new string holding `text`; nullptr when memory runs out.
Bstr allocBstr(std::u16string_view text);
void freeBstr(Bstr s);
// The length in characters, read from the prefix.
uint32_t bstrLength(const uint16_t* s);

}  // namespace platform
