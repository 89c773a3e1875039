#include "app/settings/IniText.h"

#include <algorithm>
#include <cstdint>

namespace plume {
namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr char16_t kReplacement = 0xFFFD;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsLineSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}
bool IsNewline(char c) {
    return c == '\n' || c == '\r';
}
int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// UTF-8 to UTF-16, each byte of a malformed sequence giving U+FFFD. Like the
// store's decoder, a byte-order mark at the start of the first piece decoded
// is dropped.
class TUtf8Decoder {
  public:
    void Append(std::string_view bytes, std::u16string& out) {
        if (bytes.empty()) return;
        if (!started_ && bytes.starts_with(kByteOrderMark)) bytes.remove_prefix(3);
        started_ = true;
        std::size_t i = 0;
        while (i < bytes.size()) {
            const auto lead = static_cast<std::uint8_t>(bytes[i]);
            const int length = lead < 0x80                   ? 1
                               : lead >= 0xC2 && lead < 0xE0 ? 2
                               : lead >= 0xE0 && lead < 0xF0 ? 3
                               : lead >= 0xF0 && lead < 0xF5 ? 4
                                                             : 0;
            char32_t code = length == 1 ? lead : lead & (0x7F >> length);
            bool valid = length > 0 && bytes.size() - i >= static_cast<std::size_t>(length);
            for (int k = 1; valid && k < length; ++k) {
                const auto next = static_cast<std::uint8_t>(bytes[i + k]);
                valid = (next & 0xC0) == 0x80;
                code = (code << 6) | (next & 0x3F);
            }
            // Overlong forms, surrogates and code points past U+10FFFF are no characters.
            valid = valid && !(length == 3 && code < 0x800) && !(length == 4 && code < 0x10000) &&
                    !(code >= 0xD800 && code < 0xE000) && code <= 0x10FFFF;
            if (!valid) {
                out += kReplacement;
                ++i;
                continue;
            }
            if (code >= 0x10000) {
                out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
                out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
            } else {
                out += static_cast<char16_t>(code);
            }
            i += static_cast<std::size_t>(length);
        }
    }

  private:
    bool started_ = false;
};

// One logical line: from its first byte past blanks, newlines and comments
// to its end (a newline outside quotes, a ';' comment, or the end of text).
struct TIniLine {
    std::size_t Start = 0;
    std::size_t End = 0;
    std::size_t Equals = kNone;  // the first '=' outside quotes
};

// Reads the line that begins at or after pos and moves pos to its end.
// False when only blanks and comments are left.
bool NextLine(std::string_view text, std::size_t& pos, TIniLine& line) {
    std::size_t start = pos;
    while (start < text.size() && IsLineSpace(text[start])) ++start;
    line.Equals = kNone;
    bool inQuotes = false;
    std::size_t i = start;
    bool ended = false;
    while (i < text.size() && !ended) {
        const char c = text[i++];
        if (c == '=') {
            if (!inQuotes && line.Equals == kNone) line.Equals = i - 1;
        } else if (IsNewline(c) || (c == ';' && i != start + 1)) {
            if (!inQuotes) {
                --i;
                ended = true;
            }
        } else if (c == ';') {
            // A comment line: skipped, with the blanks after it.
            while (i < text.size() && !IsNewline(text[i])) ++i;
            while (i < text.size() && IsLineSpace(text[i])) ++i;
            start = i;
        } else if (c == '\\') {
            // The next character is escaped; an escaped newline pair joins lines.
            if (i < text.size()) {
                const char next = text[i++];
                if (i < text.size() && IsNewline(next) && IsNewline(text[i]) && text[i] != next)
                    ++i;
            }
        } else if (c == '"') {
            inQuotes = !inQuotes;
        }
    }
    pos = i;
    line.Start = start;
    line.End = i;
    return i > start;
}

std::string_view TrimAscii(std::string_view s) {
    const auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!s.empty() && space(s.front())) s.remove_prefix(1);
    while (!s.empty() && space(s.back())) s.remove_suffix(1);
    return s;
}

bool IsGeneralSection(std::string_view header) {
    // "[name]": the name ends at the first ']' (or with the line).
    std::string_view name =
        header.substr(1, header.find(']') == kNone ? kNone : header.find(']') - 1);
    name = TrimAscii(name);
    constexpr std::string_view kGeneral = "general";
    if (name.size() != kGeneral.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if ((name[i] | 0x20) != kGeneral[i]) return false;
    return true;
}

struct TIniEntry {
    TIniLine Line;
    std::string_view Key;    // as written, without the white space around it
    std::string_view Value;  // as written, from its first non-blank byte
};

// Calls visit(entry) for each "key=value" line of the General section, in
// the order of the text.
template <typename Visit>
void ForEachGeneralEntry(std::string_view text, Visit visit) {
    std::size_t pos = 0;
    TIniLine line;
    // A byte-order mark that starts the text does not hide a header behind it.
    if (std::size_t first = kByteOrderMark.size();
        text.starts_with(kByteOrderMark) && NextLine(text, first, line) && text[line.Start] == '[')
        pos = line.Start;
    bool general = true;  // lines before any header belong to General
    while (NextLine(text, pos, line)) {
        const std::string_view whole = text.substr(line.Start, line.End - line.Start);
        if (whole.front() == '[') {
            general = IsGeneralSection(whole);
            continue;
        }
        if (!general || line.Equals == kNone) continue;
        // The key loses all white space around it, the value only blanks.
        std::size_t valueStart = line.Equals + 1;
        while (valueStart < line.End && IsBlank(text[valueStart])) ++valueStart;
        visit(TIniEntry{line, TrimAscii(text.substr(line.Start, line.Equals - line.Start)),
                        text.substr(valueStart, line.End - valueStart)});
    }
}

// A key as written is key: '\' stands for the group separator '/', %XX and
// %UXXXX for the character with that code.
bool KeyMatches(std::string_view written, std::string_view key) {
    std::u16string decoded;
    TUtf8Decoder().Append(written, decoded);
    std::u16string result;
    for (std::size_t i = 0; i < decoded.size();) {
        const char16_t c = decoded[i];
        if (c == u'\\') {
            result += u'/';
            ++i;
            continue;
        }
        const std::size_t first = i + 1 + (i + 1 < decoded.size() && decoded[i + 1] == u'U');
        const std::size_t digits = first == i + 1 ? 2 : 4;
        char16_t code = 0;
        bool escape = c == u'%' && first + digits <= decoded.size();
        for (std::size_t k = 0; escape && k < digits; ++k) {
            const char16_t d = decoded[first + k];
            const int value = d < 0x80 ? HexDigit(static_cast<char>(d)) : -1;
            escape = value >= 0;
            code = static_cast<char16_t>(code * 16 + value);
        }
        result += escape ? code : c;
        i = escape ? first + digits : i + 1;
    }
    if (result.size() != key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (result[i] != static_cast<unsigned char>(key[i])) return false;
    return true;
}

// The value as the store unescapes it: C-style escapes, quotes that keep
// blanks, and unquoted commas that make a list.
TIniValue UnescapeValue(std::string_view raw) {
    static constexpr char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                           {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                           {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    std::u16string current;
    bool isList = false, inQuotes = false, quoted = false;
    bool chopAtEnd = true;  // an escape that runs into the end skips the final chop
    TUtf8Decoder decoder;
    std::size_t i = 0;
    const auto skipBlanks = [&] {
        while (i < raw.size() && IsBlank(raw[i])) ++i;
    };
    std::size_t chopLimit = 0;  // blanks up to here were escaped or quoted: kept
    const auto chop = [&] {
        while (current.size() > chopLimit && (current.back() == u' ' || current.back() == u'\t'))
            current.pop_back();
    };
    // A numeric escape: digits of the base while they last (16-bit code unit).
    const auto numeric = [&](unsigned base, unsigned value) {
        while (i < raw.size()) {
            const int digit = base == 16 ? HexDigit(raw[i])
                                         : (raw[i] >= '0' && raw[i] <= '7' ? raw[i] - '0' : -1);
            if (digit < 0) break;
            value = (value * base + static_cast<unsigned>(digit)) & 0xFFFF;
            ++i;
        }
        current += static_cast<char16_t>(value);
        chopAtEnd = i < raw.size();
    };
    skipBlanks();
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '\\') {
            if (++i >= raw.size()) {
                chopAtEnd = false;
                break;
            }
            const char e = raw[i++];
            bool handled = false;
            for (const auto& escape : kEscapes)
                if (e == escape[0]) {
                    current += static_cast<char16_t>(escape[1]);
                    handled = true;
                }
            if (handled) {
            } else if (e == 'x') {
                if (i >= raw.size()) {
                    chopAtEnd = false;
                    break;
                }
                if (HexDigit(raw[i]) >= 0) numeric(16, 0);
            } else if (e >= '0' && e <= '7') {
                numeric(8, static_cast<unsigned>(e - '0'));
            } else if (IsNewline(e) && i < raw.size() && IsNewline(raw[i]) && raw[i] != e) {
                ++i;  // a joined line
            }
            if (!chopAtEnd) break;
            chopLimit = current.size();
        } else if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = current.size();
            }
        } else if (c == ',' && !inQuotes) {
            if (!quoted) chop();
            isList = true;
            current.clear();
            quoted = false;
            ++i;
            skipBlanks();
            chopLimit = 0;
        } else {
            std::size_t j = i + 1;
            while (j < raw.size() && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',') ++j;
            decoder.Append(raw.substr(i, j - i), current);
            i = j;
        }
    }
    if (chopAtEnd && !quoted) chop();
    if (isList) return TIniValue{};
    // The store's @-notation for what is not plain text.
    if (!current.starts_with(u"@")) return TIniValue{true, current};
    if (current.starts_with(u"@@")) return TIniValue{true, current.substr(1)};
    if (current.starts_with(u"@String(") && current.back() == u')')
        return TIniValue{true, current.substr(8, current.size() - 9)};
    return TIniValue{};
}

std::size_t PastNewline(std::string_view text, std::size_t pos) {
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    return pos;
}

std::string Compose(std::string_view text,
                    const std::vector<std::pair<std::size_t, std::size_t>>& removed,
                    std::size_t insertAt, const std::string& insertion) {
    std::string out;
    out.reserve(text.size() + insertion.size());
    std::size_t pos = 0;
    for (const auto& [from, to] : removed) {
        if (insertAt >= pos && insertAt <= from) {
            out.append(text.substr(pos, insertAt - pos)).append(insertion);
            pos = insertAt;
        }
        out.append(text.substr(pos, from - pos));
        pos = to;
    }
    if (insertAt >= pos) {
        out.append(text.substr(pos, insertAt - pos)).append(insertion);
        pos = insertAt;
    }
    return out.append(text.substr(pos));
}

}  // namespace

std::optional<TIniValue> FindGeneralValue(std::string_view text, std::string_view key) {
    std::optional<TIniValue> found;
    ForEachGeneralEntry(text, [&](const TIniEntry& entry) {
        if (KeyMatches(entry.Key, key)) found = UnescapeValue(entry.Value);
    });
    return found;
}

std::optional<std::string> SetGeneralValues(
    std::string_view text, const std::vector<std::pair<std::string, std::string>>& values) {
    // Every line of the General section that holds one of the keys goes, with
    // the blanks before it and its newline; a byte-order mark stays first.
    const std::size_t top = text.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
    std::vector<std::pair<std::size_t, std::size_t>> removed;
    ForEachGeneralEntry(text, [&](const TIniEntry& entry) {
        bool ours = false;
        for (const auto& value : values) ours = ours || KeyMatches(entry.Key, value.first);
        if (!ours) return;
        std::size_t from = entry.Line.Start;
        while (from > top && IsBlank(text[from - 1])) --from;
        removed.emplace_back(std::max(from, top), PastNewline(text, entry.Line.End));
    });

    std::string lines;
    for (const auto& [key, value] : values) lines += key + "=" + value + "\n";
    // Below the first line when it is a General header that ends with its
    // line; otherwise in a General section of their own at the top (after a
    // byte-order mark), where no quote or joined line from before can reach.
    std::size_t pos = top;
    TIniLine first;
    const bool belowHeader = NextLine(text, pos, first) && text[first.Start] == '[' &&
                             IsGeneralSection(text.substr(first.Start, first.End - first.Start)) &&
                             first.End < text.size() && IsNewline(text[first.End]);
    std::string result =
        belowHeader
            ? Compose(text, removed, PastNewline(text, first.End), lines)
            : Compose(text, removed, top, "[General]\n" + lines + (text.size() > top ? "\n" : ""));
    for (const auto& [key, value] : values) {
        const std::optional<TIniValue> back = FindGeneralValue(result, key);
        if (!back || !back->IsText || back->Text != std::u16string(value.begin(), value.end()))
            return std::nullopt;
    }
    return result;
}

}  // namespace plume
