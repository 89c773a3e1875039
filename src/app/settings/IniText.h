// Settings text in the INI form that Qt's settings store (QSettings,
// NativeFormat and IniFormat on Linux) reads and writes: read the way Qt 6
// reads it, and changed without disturbing anything else in it.
//
// The form, as Qt reads it: a line is "key=value" or a section header
// "[name]"; lines before any header and those of every section named
// "General" (in any letter case) form the General section, where a later key
// replaces an earlier one. A ';' starts a comment outside double quotes;
// quotes keep ';', ',', '=' and spaces and may span lines; a backslash
// escapes the next character (C escapes, \x.. and octal included) and joins
// lines. White space around keys, and spaces and tabs around unquoted
// values, do not count. Keys are case-sensitive, with %XX and %UXXXX
// escapes. A byte-order mark at the very start does not hide a header.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plume {

struct TIniValue {
    // False for what the store hands back as something other than text: a
    // list ("1, 2"), or a value in its @-notation (@ByteArray(...),
    // @Variant(...), @Invalid() ...) other than @String(...) and "@@".
    bool IsText = false;
    std::u16string Text;  // the text, UTF-16 as the store hands it back
};

// The value the key has in the General section of text; nothing when the
// key is not there.
std::optional<TIniValue> FindGeneralValue(std::string_view text, std::string_view key);

// text with each key of values (plain names: letters, digits, '_') set to
// its value in the General section and every other line kept as it was.
// Nothing when the result would not read back the values.
std::optional<std::string> SetGeneralValues(
    std::string_view text, const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace plume
