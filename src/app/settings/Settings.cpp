#include "app/settings/Settings.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "app/files/FileAccess.h"
#include "app/files/SafeWrite.h"
#include "app/files/UserFolders.h"
#include "app/settings/IniText.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

constexpr const char* kOrganisation = "Tidecrest";
constexpr const char* kApplication = "plume_auto";
constexpr const char* kStoreExtension = ".conf";
// Folders made for the store get the usual mode, as Qt makes them.
constexpr mode_t kStoreFolderMode = 0777;

// Value names, the same for reading and writing.
constexpr const char* kOperateAllFile = "gOperateAllFile";
constexpr const char* kSaveMethod = "gSaveMethod";
constexpr const char* kKeepTimeStampCreate = "gKeepTimeStamp_Create";
constexpr const char* kKeepTimeStampWrite = "gKeepTimeStamp_Write";
constexpr const char* kAllowBreakDCF = "gAllowBreakDCF";
constexpr const char* kShowOption = "gShowOption";
constexpr const char* kFixMirrored = "gFixMirrored";
constexpr const char* kExifAnywhere = "gExifAnywhere";
constexpr const char* kEdgePolicy = "gEdgePolicy";
constexpr const char* kAnyJpeg = "gAnyJpeg";
constexpr const char* kOptimizeTables = "gOptimizeTables";

std::string StoreFolder() {
    return BaseFolder("XDG_CONFIG_HOME", ".config") + "/" + kOrganisation;
}
std::string StorePath() {
    return StoreFolder() + "/" + kApplication + kStoreExtension;
}

// The files a value is looked up in, first found first: the application's
// and the organisation's file in the user's folder, then the same in each
// system folder (applications' before organisations').
std::vector<std::string> StoreFiles() {
    const std::string application =
        std::string("/") + kOrganisation + "/" + kApplication + kStoreExtension;
    const std::string organisation = std::string("/") + kOrganisation + kStoreExtension;
    const std::string user = BaseFolder("XDG_CONFIG_HOME", ".config");
    const std::vector<std::string> system = ConfigFolders();
    std::vector<std::string> files{user + application, user + organisation};
    for (const std::string& folder : system) files.push_back(folder + application);
    for (const std::string& folder : system) files.push_back(folder + organisation);
    return files;
}

// No settings file is larger; a larger one is not read (a sparse file of
// many gigabytes would take all memory at every start).
constexpr std::uint64_t kMaxStoreBytes = std::uint64_t{1} << 20;

// The whole text of a store file; nothing when it is missing, unreadable or
// too large (then problems, when given, gets a line that says so).
std::optional<std::string> ReadStoreText(const std::string& path,
                                         std::vector<std::string>* problems = nullptr) {
    TMemoryStream stream;
    TFileTimes times;
    try {
        LoadFile(path, stream, times, nullptr, kMaxStoreBytes);
    } catch (const EFileTooLarge&) {
        if (problems != nullptr) problems->push_back(FormatPathText(kSettingsTooLarge, path));
        return std::nullopt;
    } catch (const EStreamError&) {
        return std::nullopt;
    }
    return std::string(stream.Bytes().begin(), stream.Bytes().end());
}

class TStore {
  public:
    explicit TStore(std::vector<std::string>* problems) {
        for (const std::string& path : StoreFiles())
            if (std::optional<std::string> text = ReadStoreText(path, problems))
                texts_.push_back(*text);
    }
    // The value from the first file that has the key.
    std::optional<TIniValue> Value(const char* name) const {
        for (const std::string& text : texts_)
            if (std::optional<TIniValue> value = FindGeneralValue(text, name)) return value;
        return std::nullopt;
    }

  private:
    std::vector<std::string> texts_;
};

bool IsSpace(char16_t c) {
    // The characters Qt trims: C white space, NEL, and Unicode's space,
    // line and paragraph separators.
    return c == u' ' || (c >= u'\t' && c <= u'\r') || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

bool IsAsciiSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// A whole decimal number with an optional sign, in 64 bits.
std::optional<std::int64_t> ParseNumber(std::u16string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    // Accumulated negatively, so that the lowest value fits as well.
    std::int64_t number = 0;
    constexpr std::int64_t kLowest = std::numeric_limits<std::int64_t>::min();
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        const int digit = c - u'0';
        if (number < (kLowest + digit) / 10) return std::nullopt;
        number = number * 10 - digit;
    }
    if (negative) return number;
    if (number == kLowest) return std::nullopt;
    return -number;
}

// The stored number, when the value exists and is a 32-bit integer. The
// store hands numbers back as text, so a text that reads as an integer
// (blanks around it do not count) is one.
std::optional<std::int32_t> ReadInteger(const TStore& store, const char* name) {
    const std::optional<TIniValue> value = store.Value(name);
    if (!value || !value->IsText) return std::nullopt;
    const auto trimmed = [](std::u16string_view text, bool (*space)(char16_t)) {
        while (!text.empty() && space(text.front())) text.remove_prefix(1);
        while (!text.empty() && space(text.back())) text.remove_suffix(1);
        return text;
    };
    // Qt reads the number as a C string: a NUL character ends it, and C white
    // space before it does not count.
    std::u16string_view text = trimmed(value->Text, IsSpace);
    text = trimmed(text.substr(0, text.find(u'\0')), IsAsciiSpace);
    const std::optional<std::int64_t> number = ParseNumber(text);
    if (!number || *number < std::numeric_limits<std::int32_t>::min() ||
        *number > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(*number);
}

void ReadBoolean(const TStore& store, const char* name, bool& target) {
    if (const auto number = ReadInteger(store, name)) target = *number != 0;
}

bool ValidEdgePolicy(int code) {
    return code >= 0 && code < kEdgePolicyCount;
}

}  // namespace

TSettings LoadSettings(std::vector<std::string>* problems) {
    const TStore store(problems);
    TSettings settings;
    ReadBoolean(store, kOperateAllFile, settings.gOperateAllFile);
    if (const auto code = ReadInteger(store, kSaveMethod)) {
        // Through the combo mapping: an unknown code keeps the default item.
        settings.gSaveMethod =
            GetSaveMethod(SetSaveMethod(*code, SetSaveMethod(settings.gSaveMethod, 0)));
    }
    ReadBoolean(store, kKeepTimeStampCreate, settings.gKeepTimeStamp_Create);
    ReadBoolean(store, kKeepTimeStampWrite, settings.gKeepTimeStamp_Write);
    ReadBoolean(store, kAllowBreakDCF, settings.gAllowBreakDCF);
    ReadBoolean(store, kShowOption, settings.gShowOption);
    ReadBoolean(store, kFixMirrored, settings.gFixMirrored);
    ReadBoolean(store, kExifAnywhere, settings.gExifAnywhere);
    if (const auto code = ReadInteger(store, kEdgePolicy); code && ValidEdgePolicy(*code))
        settings.gEdgePolicy = *code;
    ReadBoolean(store, kAnyJpeg, settings.gAnyJpeg);
    ReadBoolean(store, kOptimizeTables, settings.gOptimizeTables);
    return settings;
}

bool SaveSettings(const TSettings& settings) {
    const auto flag = [](bool value) { return std::string(value ? "1" : "0"); };
    const std::vector<std::pair<std::string, std::string>> values{
        {kOperateAllFile, flag(settings.gOperateAllFile)},
        {kSaveMethod, std::to_string(GetSaveMethod(SetSaveMethod(settings.gSaveMethod, 0)))},
        {kKeepTimeStampCreate, flag(settings.gKeepTimeStamp_Create)},
        {kKeepTimeStampWrite, flag(settings.gKeepTimeStamp_Write)},
        {kAllowBreakDCF, flag(settings.gAllowBreakDCF)},
        {kShowOption, flag(settings.gShowOption)},
        {kFixMirrored, flag(settings.gFixMirrored)},
        {kExifAnywhere, flag(settings.gExifAnywhere)},
        {kEdgePolicy,
         std::to_string(ValidEdgePolicy(settings.gEdgePolicy) ? settings.gEdgePolicy : epMove)},
        {kAnyJpeg, flag(settings.gAnyJpeg)},
        {kOptimizeTables, flag(settings.gOptimizeTables)},
    };
    const std::string path = StorePath();
    // The other lines of an existing store are kept; one that cannot be read
    // is not replaced.
    std::string old;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        // A store made read-only stays as it is.
        if ((info.st_mode & S_IWUSR) == 0) return false;
        std::optional<std::string> text = ReadStoreText(path);
        if (!text) return false;
        old = std::move(*text);
    } else if (errno != ENOENT) {
        return false;
    }
    const std::optional<std::string> text = SetGeneralValues(old, values);
    if (!text || !EnsureFolderPath(StoreFolder(), kStoreFolderMode)) return false;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text->data());
    try {
        return WriteFileReplacing(path, {bytes, text->size()}, TFileTimes{});
    } catch (const EStreamError&) {
        return false;
    }
}

void ApplyRunSettings(const TSettings& settings, TRunOptions& options) {
    options.ExifAnywhere = settings.gExifAnywhere;
    options.FixMirrored = settings.gFixMirrored;
    options.EdgePolicy = settings.gEdgePolicy;
    options.AnyJpeg = settings.gAnyJpeg;
    options.OptimizeTables = settings.gOptimizeTables;
}

}  // namespace plume
