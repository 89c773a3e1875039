// The message callback shared by the engine and both bit streams:
// OnMessage(Text, Level) with Level 1 = warning, 2 = error.
#pragma once

#include <functional>
#include <string>

namespace plume {

using TMessageEvent = std::function<void(const std::string& text, int level)>;

inline constexpr int kLevelInfo = 0;
inline constexpr int kLevelWarning = 1;
inline constexpr int kLevelError = 2;

}  // namespace plume
