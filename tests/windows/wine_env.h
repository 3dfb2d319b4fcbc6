// What tests/windows/run-wine-tests.sh hands the Windows test programs: the
// coordinates of the Linux-side peers, in environment variables.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace winetest {

// The variable's value; the test fails (with the reason) when it is unset.
inline std::string peer(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) {
    ADD_FAILURE() << name << " is not set: this test runs under tests/windows/run-wine-tests.sh, beside its peer";
    return {};
  }
  return value;
}

}  // namespace winetest
