// No C++ exception crosses the C interface. An export whose work can throw
// (an allocation failure above all) runs that work through atBoundary, which
// turns any exception into the export's documented failure result: for the
// host, running out of memory is a result, not the end of its process.
#pragma once

#include <utility>

namespace telvaris {

template <typename Result, typename Work>
Result atBoundary(Result onFailure, Work&& work) noexcept {
  try {
    return std::forward<Work>(work)();
  } catch (...) {
    return onFailure;
  }
}

}  // namespace telvaris
