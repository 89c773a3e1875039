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

// Marks a text that a user sees, for the message catalogue (its texts are
// gathered with xgettext --keyword=Msg); the text itself is unchanged, and
// the application shows it in the user's language.
constexpr const char* Msg(const char* text) {
    return text;
}

}  // namespace plume
