#include <windows.h>
#include <oleauto.h>

#include "platform/bstr.h"

namespace platform {

// The system's own OLE Automation strings, so that a caller may free or
// keep them with the system's functions. SysAllocStringLen, as the text is
// a view without a terminator of its own.
Bstr allocBstr(std::u16string_view text) {
  static_assert(sizeof(OLECHAR) == sizeof(char16_t));
  BSTR s = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
  return reinterpret_cast<Bstr>(s);
}

void freeBstr(Bstr s) { SysFreeString(reinterpret_cast<BSTR>(s)); }

uint32_t bstrLength(const uint16_t* s) {
  return SysStringLen(reinterpret_cast<BSTR>(const_cast<uint16_t*>(s)));
}

}  // namespace platform
