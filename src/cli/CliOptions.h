// The command line of plume-cli:
//   plume-cli [OPTIONS] FILES-OR-FOLDERS...
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/settings/Settings.h"

namespace plume {

struct TCliOptions {
    // Start from the stored settings; the options change them for this run only.
    TSettings Settings;
    bool StopOnError = false;          // --stop-on-error
    bool SaveMethodGiven = false;      // --save-method was on the command line
    bool DryRun = false;               // -n, --dry-run
    std::optional<std::uint8_t> Mode;  // --mode
    std::string OutputPath;            // -o
    std::optional<unsigned> Jobs;      // -j: files handled at once
    std::vector<std::string> Operands;
};

enum class TCliAction { Run, Help, Version, UsageError };

// Parses argv[1..] into options (whose Settings hold the defaults). On a usage
// error, error holds the reason.
TCliAction ParseCommandLine(int argc, const char* const* argv, TCliOptions& options,
                            std::string& error);

// The help, in three texts: the usage and the options; the options for the
// kinds of JPEG and the tables; the exit status.
extern const char* const kCliHelp;
extern const char* const kCliHelpKinds;
extern const char* const kCliHelpExit;

}  // namespace plume
