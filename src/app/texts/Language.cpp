#include "app/texts/Language.h"

#include <libintl.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

// The C library's count of catalogue changes, which its lookups compare
// with the one they cached their answers under.
extern "C" int _nl_msg_cat_cntr;

namespace plume {
namespace {

constexpr const char* kDomain = "plume";
// The catalogue that holds every text of the program, so that its list of
// texts is the list of patterns.
constexpr const char* kFallbackLanguage = "en";

struct TLanguageState {
    bool japanese = true;
    std::string folder;                 // of the catalogues, when one was found
    std::vector<std::string> patterns;  // texts with "%s" parts, longest first
};

TLanguageState& State() {
    static TLanguageState state;
    return state;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool IsCLocale(const std::string& locale) {
    return locale.empty() || locale == "C" || locale == "POSIX" || locale.starts_with("C.");
}

// "ja_JP.UTF-8@latin" -> "ja".
std::string LanguageOf(const std::string& entry) {
    return entry.substr(0, entry.find_first_of("_.@"));
}

std::string CatalogueFile(const std::string& folder, const std::string& language) {
    return folder + "/" + language + "/LC_MESSAGES/" + kDomain + ".mo";
}

// The folder of the installed catalogues (../share/locale beside the
// program's folder), else the build tree's.
std::string CatalogueFolder() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const std::string installed =
            (self.parent_path().parent_path() / "share" / "locale").string();
        if (std::filesystem::exists(CatalogueFile(installed, kFallbackLanguage), error))
            return installed;
    }
#ifdef PLUME_BUILD_LOCALEDIR
    return PLUME_BUILD_LOCALEDIR;
#else
    return {};
#endif
}

std::uint32_t Word(const std::vector<char>& bytes, std::size_t at, bool swapped) {
    if (at > bytes.size() || bytes.size() - at < 4) return 0;
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<std::uint8_t>(bytes[at + (swapped ? i : 3 - i)]);
        value = (value << 8) | byte;
    }
    return value;
}

// The texts of a compiled catalogue that have "%s" parts, read from its
// table of original strings (GNU gettext manual, "The Format of GNU MO
// Files").
std::vector<std::string> PatternsOf(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    constexpr std::uint32_t kMagic = 0x950412de;
    const bool swapped = Word(bytes, 0, true) == kMagic;
    if (!swapped && Word(bytes, 0, false) != kMagic) return {};
    const std::uint32_t count = Word(bytes, 8, swapped);
    const std::uint32_t table = Word(bytes, 12, swapped);
    std::vector<std::string> patterns;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = std::size_t{table} + 8 * std::size_t{i};
        const std::uint32_t length = Word(bytes, entry, swapped);
        const std::uint32_t offset = Word(bytes, entry + 4, swapped);
        if (offset > bytes.size() || bytes.size() - offset < length) break;
        std::string text(bytes.data() + offset, length);
        if (text.find("%s") != std::string::npos) patterns.push_back(std::move(text));
    }
    return patterns;
}

// The parts of text that pattern's "%s" stand for, when text has the form
// of pattern; each literal piece is found leftmost after the one before.
bool Match(const std::string& pattern, const std::string& text, std::vector<std::string>& parts) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (std::size_t at; (at = pattern.find("%s", start)) != std::string::npos; start = at + 2)
        pieces.push_back(pattern.substr(start, at - start));
    pieces.push_back(pattern.substr(start));
    const std::string& first = pieces.front();
    const std::string& last = pieces.back();
    if (!text.starts_with(first) || text.size() < first.size() + last.size() ||
        !text.ends_with(last))
        return false;
    parts.clear();
    std::size_t position = first.size();
    const std::size_t end = text.size() - last.size();
    for (std::size_t i = 1; i + 1 < pieces.size(); ++i) {
        const std::size_t at = text.find(pieces[i], position);
        if (at == std::string::npos || at + pieces[i].size() > end) return false;
        parts.push_back(text.substr(position, at - position));
        position = at + pieces[i].size();
    }
    parts.push_back(text.substr(position, end - position));
    return true;
}

// The catalogue's text for text, or nothing.
const char* Translated(const std::string& text) {
    const char* found = ::dgettext(kDomain, text.c_str());
    return found != text.c_str() ? found : nullptr;
}

std::string LocalizeLine(const std::string& text) {
    if (text.empty()) return text;
    if (const char* found = Translated(text)) return found;
    std::vector<std::string> parts;
    for (const std::string& pattern : State().patterns) {
        if (!Match(pattern, text, parts)) continue;
        const char* found = Translated(pattern);
        const std::string translated = found != nullptr ? found : pattern;
        std::string result;
        std::size_t start = 0, part = 0;
        for (std::size_t at; (at = translated.find("%s", start)) != std::string::npos;
             start = at + 2) {
            result += translated.substr(start, at - start);
            if (part < parts.size()) result += LocalizeLine(parts[part++]);
        }
        return result + translated.substr(start);
    }
    return text;
}

}  // namespace

void SetLanguage(const std::string& code) {
    TLanguageState& state = State();
    // As gettext reads LANGUAGE: the first entry that can be shown wins.
    // Japanese is what the texts are written in; its catalogue holds only
    // the few written in English.
    std::string chosen = kFallbackLanguage;
    std::size_t start = 0;
    while (start <= code.size()) {
        const std::size_t end = std::min(code.find(':', start), code.size());
        const std::string entry = code.substr(start, end - start);
        start = end + 1;
        const std::string language = LanguageOf(entry);
        std::error_code error;
        if (language == "ja" || language == kFallbackLanguage ||
            (!state.folder.empty() &&
             (std::filesystem::exists(CatalogueFile(state.folder, entry), error) ||
              std::filesystem::exists(CatalogueFile(state.folder, language), error)))) {
            chosen = entry;
            break;
        }
    }
    state.japanese = LanguageOf(chosen) == "ja";
    // What a catalogue lacks stays as written in Japanese, and is English in
    // any other language.
    std::vector<std::string> chain{chosen};
    if (!state.japanese && LanguageOf(chosen) != kFallbackLanguage)
        chain.push_back(kFallbackLanguage);
    std::string languages;
    state.patterns.clear();
    for (const std::string& entry : chain) {
        languages += (languages.empty() ? "" : ":") + entry;
        if (state.folder.empty()) continue;
        for (const std::string& language : {entry, LanguageOf(entry)}) {
            const std::vector<std::string> found =
                PatternsOf(CatalogueFile(state.folder, language));
            state.patterns.insert(state.patterns.end(), found.begin(), found.end());
        }
    }
    // The longest first: a pattern that says more is the better match.
    std::stable_sort(
        state.patterns.begin(), state.patterns.end(),
        [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    // gettext honours LANGUAGE unless the messages' locale is C itself; C.UTF-8
    // is always there and changes nothing else.
    ::setenv("LANGUAGE", languages.c_str(), 1);
    if (std::setlocale(LC_MESSAGES, "C.UTF-8") == nullptr) std::setlocale(LC_MESSAGES, "C.utf8");
    // What gettext found under the language before is forgotten (the GNU
    // gettext manual's way, "Being a gettext grok").
    ++_nl_msg_cat_cntr;
}

void InitLanguage() {
    TLanguageState& state = State();
    state.folder = CatalogueFolder();
    if (!state.folder.empty()) {
        ::bindtextdomain(kDomain, state.folder.c_str());
        ::bind_textdomain_codeset(kDomain, "UTF-8");
    }
    std::string locale = Environment("LC_ALL");
    if (locale.empty()) locale = Environment("LC_MESSAGES");
    if (locale.empty()) locale = Environment("LANG");
    const std::string languages = Environment("LANGUAGE");
    SetLanguage(IsCLocale(locale) ? "C" : languages.empty() ? locale : languages);
}

bool JapaneseChosen() {
    return State().japanese;
}

std::string Localize(const std::string& text) {
    // A text of several lines may be one text of the catalogue (a help).
    if (const char* found = Translated(text)) return found;
    std::string result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find_first_of("\r\n", start);
        result += LocalizeLine(text.substr(start, end - start));
        if (end == std::string::npos) return result;
        result += text[end];
        start = end + 1;
    }
}

}  // namespace plume
