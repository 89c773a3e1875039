#include "cli/CliOptions.h"

#include <charconv>
#include <string_view>
#include <utility>

#include "BitStreamFile/MessageEvent.h"
#include "app/run/ParallelRun.h"
#include "app/texts/AppTexts.h"

namespace plume {

const char* const kCliHelp =
    Msg("Usage: plume-cli [OPTIONS] FILES-OR-FOLDERS...\n"
        "Turns JPEG photos upright as their EXIF orientation asks, without\n"
        "compressing them again.\n"
        "Folders are searched for files whose names end in .jpg (any letter case),\n"
        "sub-folders included (hidden ones, and the result and original folders\n"
        "that saving writes into, skipped). A file named by itself is taken when\n"
        "its name ends in .jpg or its content is a JPEG's. The defaults come from\n"
        "the window's stored settings.\n"
        "\n"
        "  --save-method M       where the result goes (or 0-4, the stored codes):\n"
        "      result     into result/NAME beside the photo; the photo stays\n"
        "      recycle    in the photo's place; the photo goes to the trash\n"
        "      bak        in the photo's place; the photo is kept as NAME.bak\n"
        "      original   in the photo's place; the photo is kept in original/NAME\n"
        "      overwrite  in the photo's place; the photo is not kept\n"
        "                        A kept copy never replaces a different file of its\n"
        "                        name, and a read-only photo is only ever replaced\n"
        "                        by recycle: such a file fails and stays as it is.\n"
        "                        Only regular files are replaced, never through a\n"
        "                        link of another user, never the photo itself.\n"
        "  --all, --no-all       also store photos that need no turn\n"
        "  --keep-created, --no-keep-created\n"
        "                        give the output the input's creation time (no\n"
        "                        effect on Linux, which cannot set one)\n"
        "  --keep-modified, --no-keep-modified\n"
        "                        give the output the input's modification time\n"
        "  --allow-break-dcf, --no-allow-break-dcf\n"
        "                        allow the thumbnail to be turned sideways\n"
        "  --exif-anywhere, --no-exif-anywhere\n"
        "                        read the EXIF segment wherever it stands among the\n"
        "                        header segments (the default), or only right\n"
        "                        after the start of the file\n"
        "  --mirrored, --no-mirrored\n"
        "                        also set mirrored photos (EXIF orientation 2, 4,\n"
        "                        5, 7) the right way round\n"
        "  --edges E             when a turn brings an edge that is not a whole\n"
        "                        number of MCUs (8 or 16 pixels) to the top or left:\n"
        "      move       turn all the same; the encoder's padding shows there\n"
        "                 and as many rows or columns are cut from the other side\n"
        "      trim       drop that partial MCU column or row (as jpegtran -trim)\n"
        "      skip       leave the photo as it is and say so\n"
        "                        A partial edge that stays at the right or bottom\n"
        "                        is turned whole under every choice.\n"
        "  --mode N              use rotation mode N (0 none, 1 right, 2 left,\n"
        "                        3 180 degrees, 4 mirror left-right, 5 mirror\n"
        "                        top-bottom, 6 transpose, 7 transverse) after the\n"
        "                        analysis\n"
        "  -o, --output FILE     one input only: write its result to FILE\n"
        "  -n, --dry-run         analyse and turn every file in memory, and print\n"
        "                        what the run would do and where it would save,\n"
        "                        writing nothing at all (no result, kept copy,\n"
        "                        trash or temporary file)\n"
        "  -j, --jobs N          prepare N files at once (default: one per core);\n"
        "                        the output is that of one file at a time\n"
        "  --stop-on-error       end the run after the first file that fails in any\n"
        "                        way: refused, or not read, analysed or saved; by\n"
        "                        default the file is reported with its path and\n"
        "                        the run goes on\n"
        "  -h, --help            show this help\n"
        "  --version             show the version\n");

const char* const kCliHelpKinds =
    Msg("\n"
        "Kinds of JPEG and the size of the results:\n"
        "  --any-jpeg, --no-any-jpeg\n"
        "                        also turn progressive files (kept progressive),\n"
        "                        sequential files of several scans, extended\n"
        "                        (SOF1) files, four-component (CMYK, YCCK) files\n"
        "                        and files of any component identifiers; off\n"
        "                        (the default), they are refused with a note\n"
        "                        that names this option\n"
        "  --optimize, --no-optimize\n"
        "                        give every result Huffman tables made for its\n"
        "                        own coefficients, a few per cent smaller (a\n"
        "                        progressive result always has them)\n"
        "Arithmetic-coded, lossless, hierarchical and 12-bit files are never\n"
        "turned.\n");

const char* const kCliHelpExit =
    Msg("\n"
        "Exit status: 0 every file handled, 1 a file refused or failed or the run\n"
        "cancelled (Ctrl-C ends it after the current file), 2 bad usage; with\n"
        "--dry-run, that of the run as far as it shows without saving.\n");

namespace {

constexpr const char* kErrorUnknownOption = Msg("unknown option: %s");
constexpr const char* kErrorMissingValue = Msg("missing value for %s");
constexpr const char* kErrorUnexpectedValue = Msg("option takes no value: %s");
constexpr const char* kErrorSaveMethod = Msg("unknown save method: %s");
constexpr const char* kErrorMode = Msg("mode must be a number from 0 to 7: %s");
constexpr const char* kErrorEdges = Msg("unknown edge choice: %s");
constexpr const char* kErrorJobs = Msg("jobs must be a number from 1 to 256: %s");

struct TCodeName {
    std::string_view Name;
    int Code;
};
constexpr TCodeName kSaveMethodNames[] = {
    {"result", smResultFolder}, {"recycle", smRecycleBin},      {"bak", smBackupExtension},
    {"overwrite", smOverwrite}, {"original", smOriginalFolder},
};
constexpr TCodeName kEdgePolicyNames[] = {{"move", epMove}, {"trim", epTrim}, {"skip", epSkip}};

std::optional<int> ParseSmallNumber(std::string_view text, int max) {
    if (text.size() != 1 || text[0] < '0' || text[0] > '0' + max) return std::nullopt;
    return text[0] - '0';
}

std::optional<unsigned> ParseJobs(std::string_view text) {
    unsigned jobs = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), jobs);
    if (error != std::errc() || end != text.data() + text.size() || jobs < 1 || jobs > kMaxJobs)
        return std::nullopt;
    return jobs;
}

// A name of the table, or one of its codes as the settings store it.
template <std::size_t N>
std::optional<int> ParseCode(std::string_view text, const TCodeName (&names)[N]) {
    for (const TCodeName& entry : names)
        if (entry.Name == text) return entry.Code;
    return ParseSmallNumber(text, static_cast<int>(N) - 1);
}

// Options without a value: each sets one flag.
struct TFlagOption {
    std::string_view Name;
    bool TSettings::*Field;
    bool Value;
};
constexpr TFlagOption kFlagOptions[] = {
    {"--all", &TSettings::gOperateAllFile, true},
    {"--no-all", &TSettings::gOperateAllFile, false},
    {"--keep-created", &TSettings::gKeepTimeStamp_Create, true},
    {"--no-keep-created", &TSettings::gKeepTimeStamp_Create, false},
    {"--keep-modified", &TSettings::gKeepTimeStamp_Write, true},
    {"--no-keep-modified", &TSettings::gKeepTimeStamp_Write, false},
    {"--allow-break-dcf", &TSettings::gAllowBreakDCF, true},
    {"--no-allow-break-dcf", &TSettings::gAllowBreakDCF, false},
    {"--exif-anywhere", &TSettings::gExifAnywhere, true},
    {"--no-exif-anywhere", &TSettings::gExifAnywhere, false},
    {"--mirrored", &TSettings::gFixMirrored, true},
    {"--no-mirrored", &TSettings::gFixMirrored, false},
    {"--any-jpeg", &TSettings::gAnyJpeg, true},
    {"--no-any-jpeg", &TSettings::gAnyJpeg, false},
    {"--optimize", &TSettings::gOptimizeTables, true},
    {"--no-optimize", &TSettings::gOptimizeTables, false},
};

class TArgumentReader {
  public:
    TArgumentReader(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}
    bool AtEnd() const { return next_ >= argc_; }
    std::string_view Take() { return argv_[next_++]; }

  private:
    int argc_;
    const char* const* argv_;
    int next_ = 1;
};

}  // namespace

TCliAction ParseCommandLine(int argc, const char* const* argv, TCliOptions& options,
                            std::string& error) {
    auto fail = [&error](std::string reason) {
        error = std::move(reason);
        return TCliAction::UsageError;
    };
    TArgumentReader args(argc, argv);
    bool optionsEnded = false;
    while (!args.AtEnd()) {
        std::string_view arg = args.Take();
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.Operands.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // "--name=value" and "-oFILE" carry their value inline.
        std::optional<std::string_view> inline_value;
        std::string_view name = arg;
        if (arg.starts_with("--")) {
            if (const std::size_t eq = arg.find('='); eq != std::string_view::npos) {
                name = arg.substr(0, eq);
                inline_value = arg.substr(eq + 1);
            }
        } else if (arg.size() > 2) {
            name = arg.substr(0, 2);
            inline_value = arg.substr(2);
        }
        auto value = [&]() -> std::optional<std::string_view> {
            if (inline_value) return inline_value;
            if (args.AtEnd()) return std::nullopt;
            return args.Take();
        };

        if (name == "-h" || name == "--help" || name == "--version") {
            if (inline_value) return fail(FormatPathText(kErrorUnexpectedValue, std::string(arg)));
            return name == "--version" ? TCliAction::Version : TCliAction::Help;
        }
        bool matched = false;
        for (const TFlagOption& flag : kFlagOptions) {
            if (name != flag.Name) continue;
            if (inline_value) return fail(FormatPathText(kErrorUnexpectedValue, std::string(arg)));
            options.Settings.*flag.Field = flag.Value;
            matched = true;
        }
        if (matched) continue;
        if (name == "--stop-on-error" && !inline_value) {
            options.StopOnError = true;
            continue;
        }
        if ((name == "--dry-run" || name == "-n") && !inline_value) {
            options.DryRun = true;
            continue;
        }
        if (name != "--save-method" && name != "--mode" && name != "-o" && name != "--output" &&
            name != "-j" && name != "--jobs" && name != "--edges")
            return fail(FormatPathText(kErrorUnknownOption, std::string(arg)));
        const std::optional<std::string_view> text = value();
        if (!text) return fail(FormatPathText(kErrorMissingValue, std::string(name)));
        if (name == "--save-method") {
            const std::optional<int> code = ParseCode(*text, kSaveMethodNames);
            if (!code) return fail(FormatPathText(kErrorSaveMethod, std::string(*text)));
            options.Settings.gSaveMethod = *code;
            options.SaveMethodGiven = true;
        } else if (name == "--edges") {
            const std::optional<int> code = ParseCode(*text, kEdgePolicyNames);
            if (!code) return fail(FormatPathText(kErrorEdges, std::string(*text)));
            options.Settings.gEdgePolicy = *code;
        } else if (name == "--mode") {
            const std::optional<int> mode = ParseSmallNumber(*text, kModeCount - 1);
            if (!mode) return fail(FormatPathText(kErrorMode, std::string(*text)));
            options.Mode = static_cast<std::uint8_t>(*mode);
        } else if (name == "-j" || name == "--jobs") {
            const std::optional<unsigned> jobs = ParseJobs(*text);
            if (!jobs) return fail(FormatPathText(kErrorJobs, std::string(*text)));
            options.Jobs = *jobs;
        } else {
            if (text->empty()) return fail(FormatPathText(kErrorMissingValue, std::string(name)));
            options.OutputPath = *text;
        }
    }
    return TCliAction::Run;
}

}  // namespace plume
