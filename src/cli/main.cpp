// plume-cli: the run of the window, driven from the command line.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "BitStreamFile/MessageEvent.h"
#include "app/files/FileAccess.h"
#include "app/files/InputCollection.h"
#include "app/run/ParallelRun.h"
#include "app/run/RunLoop.h"
#include "app/settings/Settings.h"
#include "app/texts/AppTexts.h"
#include "app/texts/Language.h"
#include "cli/CliOptions.h"
#include "cli/ConsoleView.h"

namespace {

constexpr int kExitHandled = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kTryHelp = plume::Msg("Try 'plume-cli --help'.");
constexpr const char* kNoOperands = plume::Msg("no files or folders given");
constexpr const char* kOutputNeedsOneFile = plume::Msg("-o needs exactly one input file");

// Set by the handler on whichever thread the signal lands; read at the pumping points.
std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Ctrl-C presses Btn_Cancel: the run ends after its current file. The handler
// removes itself, so a second Ctrl-C ends the program at once (a file being
// saved then is left whole, by the safe write).
void OnInterrupt(int) {
    gInterrupted.store(true);
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

int UsageError(const std::string& reason) {
    std::fprintf(stderr, "plume-cli: %s\n%s\n", plume::Localize(reason).c_str(),
                 plume::Localize(kTryHelp).c_str());
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace plume;

    InitLanguage();
    TCliOptions options;
    std::vector<std::string> settingsProblems;
    options.Settings = LoadSettings(&settingsProblems);
    std::string error;
    switch (ParseCommandLine(argc, argv, options, error)) {
        case TCliAction::Help:
            std::fputs(Localize(kCliHelp).c_str(), stdout);
            std::fputs(Localize(kCliHelpKinds).c_str(), stdout);
            std::fputs(Localize(kCliHelpExit).c_str(), stdout);
            return kExitHandled;
        case TCliAction::Version:
            std::printf("%s\n", kVersionText);
            return kExitHandled;
        case TCliAction::UsageError:
            return UsageError(error);
        case TCliAction::Run:
            break;
    }
    if (options.Operands.empty()) return UsageError(kNoOperands);

    std::vector<std::string> files;
    if (!options.OutputPath.empty()) {
        // The one input is named explicitly, so its extension is not asked.
        if (options.Operands.size() != 1 || IsFolder(options.Operands.front()))
            return UsageError(kOutputNeedsOneFile);
        files = options.Operands;
    }

    TConsoleView view(options.Settings, stdout, stderr, ::isatty(STDERR_FILENO) == 1);
    for (const std::string& problem : settingsProblems) view.PrintNote(problem);
    // A choice made once in the window replaces photos here too: say so.
    if (!options.SaveMethodGiven && options.OutputPath.empty() &&
        options.Settings.gSaveMethod != smResultFolder)
        view.PrintNote(
            FormatPathText(kNoteStoredSaveMethod,
                           kSaveMethodItems[SetSaveMethod(options.Settings.gSaveMethod, 0)]));
    if (options.OutputPath.empty()) {
        for (const std::string& operand : options.Operands) {
            std::vector<std::string> skipped;
            if (!AcceptPath(operand, files, &skipped))
                view.PrintNote(FormatPathText(kSkippedNotJpeg, operand));
            for (const std::string& folder : skipped)
                view.PrintNote(FormatPathText(kSkippedOwnFolder, folder));
        }
    }
    if (files.empty()) {
        view.PrintNote(kNoJpegFiles);
        return kExitFailed;
    }

    TRunner runner(view, view);
    ApplyRunSettings(options.Settings, runner.Options);
    runner.Options.ForcedMode = options.Mode;
    runner.Options.OutputPath = options.OutputPath;
    runner.Options.DryRun = options.DryRun;
    view.SetOutputPath(options.OutputPath);
    runner.Options.Jobs = options.Jobs.value_or(DefaultJobs());
    // A batch tool names the file that failed and goes on, unless asked to
    // stop as the window does.
    runner.Options.OnFileError =
        options.StopOnError ? TFileErrorRule::ReportAndEnd : TFileErrorRule::ReportAndGoOn;
    runner.Options.NoteLaterExif = true;
    runner.Options.AnyJpegNote = kNoteAnyJpegOption;
    view.SetMessagePump([&runner] {
        if (gInterrupted.exchange(false)) {
            runner.CancelRun();
        }
    });
    InstallInterruptHandler();

    // The run-end text, and a dry run's reminder that nothing was written.
    const auto printEnd = [&view, &options] {
        view.PrintNote(view.Status());
        if (options.DryRun) view.PrintNote(kDryRunNothingWritten);
    };
    TRunSummary summary;
    try {
        summary = runner.DoOperation(std::move(files));
    } catch (const std::exception& e) {
        view.PrintError(e.what());
        printEnd();
        return kExitFailed;
    }
    printEnd();
    // A dry run ends as the run would, as far as that shows without saving.
    return summary.FailedCount == 0 && !summary.Cancelled ? kExitHandled : kExitFailed;
}
