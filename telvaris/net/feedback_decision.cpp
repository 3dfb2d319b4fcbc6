#include "net/feedback_decision.h"

namespace net {
namespace {

constexpr std::string_view kDelimiters = "{}:, \"";
// Tokens are kept to this many characters; the decision words are shorter.
constexpr size_t kTokenLength = 19;

// The next non-empty token at or after `pos`; empty when none is left.
std::string_view nextToken(std::string_view text, size_t& pos) {
  const size_t start = text.find_first_not_of(kDelimiters, pos);
  if (start == std::string_view::npos) {
    pos = text.size();
    return {};
  }
  size_t end = text.find_first_of(kDelimiters, start);
  if (end == std::string_view::npos) end = text.size();
  pos = end;
  return text.substr(start, end - start).substr(0, kTokenLength);
}

}  // namespace

int32_t decideFeedback(std::string_view text) {
  size_t pos = 0;
  const std::string_view first = nextToken(text, pos);
  if (first.empty()) return kNoDecision;
  const std::string_view second = nextToken(text, pos);
  if (second.empty()) {
    if (first.starts_with("inhibit")) return kInhibit;
    if (first.starts_with("reward")) return kReward;
    return kNoDecision;
  }
  return second.starts_with("inhibit") ? kInhibit : kReward;
}

}  // namespace net
