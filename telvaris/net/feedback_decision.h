// How a feedback message becomes a decision.
//
// The relay service sends a small object with one key and one value, such as
// {"feedback":"inhibit"}. Its text is split into tokens at any of the
// characters { } : , space and double quote (empty tokens skipped); the key
// is the first token and is not examined, the second is the decision word:
// "inhibit" at its start is an inhibit (0), anything else a reward (1).
// A payload of one token is the bare word a main application publishes:
// "inhibit" at its start gives 0, "reward" at its start 1, anything else -1.
// No token at all gives -1.
#pragma once

#include <cstdint>
#include <string_view>

namespace net {

constexpr int32_t kInhibit = 0;
constexpr int32_t kReward = 1;
constexpr int32_t kNoDecision = -1;

int32_t decideFeedback(std::string_view text);

}  // namespace net
