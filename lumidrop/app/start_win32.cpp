#include "app/start_win32.h"

#include <windows.h>
#include <objbase.h>

#include <cstdio>

namespace lumidrop {

WindowsStart::WindowsStart() {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  comReady_ = SUCCEEDED(hr);
}

WindowsStart::~WindowsStart() {
  if (comReady_) CoUninitialize();
}

void useStartingConsole() {
  const bool outputGoes = GetStdHandle(STD_OUTPUT_HANDLE) != nullptr;
  const bool errorGoes = GetStdHandle(STD_ERROR_HANDLE) != nullptr;
  if ((outputGoes && errorGoes) || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
  if (!outputGoes) std::freopen("CONOUT$", "w", stdout);
  if (!errorGoes) std::freopen("CONOUT$", "w", stderr);
}

}  // namespace lumidrop
