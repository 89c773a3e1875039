#include "cli/ConsoleView.h"

#include <algorithm>

#include "app/files/SaveResult.h"
#include "app/texts/AppTexts.h"
#include "app/texts/Language.h"

namespace plume {
namespace {

constexpr int kBarWidth = 40;

// Appends to a dry run's line where the file would be stored, and what would
// become of the photo.
void AppendSavePlan(std::string& line, int saveMethod, const std::string& path,
                    const std::string& outputPath) {
    const auto add = [&line](const std::string& text) {
        line += ' ';
        line += text;
    };
    if (!outputPath.empty()) return add(Localize(FormatPathText(kDryRunOutput, outputPath)));
    const TSavePaths paths = SavePathsFor(saveMethod, path);
    add(Localize(FormatPathText(kDryRunOutput, paths.Output)));
    if (!paths.KeptCopy.empty())
        add(Localize(FormatPathText(kDryRunKeptCopy, paths.KeptCopy)));
    else if (saveMethod == smRecycleBin)
        add(Localize(kDryRunToTrash));
    else if (saveMethod == smOverwrite)
        add(Localize(kDryRunNotKept));
    // Into the result folder: the photo stays as it is.
}

}  // namespace

TConsoleView::TConsoleView(const TSettings& options, std::FILE* out, std::FILE* err,
                           bool progressBar)
    : options_(options), out_(out), err_(err), progressBar_(progressBar) {}

void TConsoleView::SetProgressMax(int max) {
    progressMax_ = max;
    DrawProgress();
}

void TConsoleView::SetProgressPosition(int position) {
    progressPosition_ = position;
    DrawProgress();
}

void TConsoleView::ShowPlainMessage(const std::string& text) {
    PrintMessage(nullptr, text);
}

void TConsoleView::ShowWarning(const std::string& text) {
    PrintMessage(kCaptionWarning, text);
}

void TConsoleView::ShowError(const std::string& text) {
    PrintMessage(kCaptionError, text);
}

void TConsoleView::PrintError(const std::string& text) {
    PrintMessage(kCaptionError, text);
}

void TConsoleView::PrintNote(const std::string& text) {
    PrintMessage(nullptr, text);
}

void TConsoleView::ProcessMessages() {
    if (pump_) pump_();
}

void TConsoleView::FileStarted(const std::string& path) {
    path_ = path;
    inFile_ = true;
}

void TConsoleView::FileFinished(const TFileReport& report) {
    ClearProgress();
    // The line says what became of the file: a failure never shows as the
    // turn it was about to make.
    std::string line = counter_ + " " + report.Path + " ";
    switch (report.Outcome) {
        case TFileOutcome::Refused:
            line += Localize(FormatPathText(kLineRefused, report.Reason));
            break;
        case TFileOutcome::Error:
        case TFileOutcome::KeepFailed:
        case TFileOutcome::InputChanged:
        case TFileOutcome::SaveRefused:
            line += Localize(FormatPathText(kLineFailed, report.Reason));
            break;
        default:
            line += Localize(status_);
            break;
    }
    if (report.Outcome == TFileOutcome::WouldSave)
        AppendSavePlan(line, options_.gSaveMethod, report.Path, outputPath_);
    std::fprintf(out_, "%s\n", line.c_str());
    std::fflush(out_);
    if (report.LaterExifAsksTurn) PrintMessage(nullptr, kNoteExifAnywhere);
    inFile_ = false;
}

void TConsoleView::PrintMessage(const char* label, const std::string& text) {
    ClearProgress();
    // A box shown while a file is being handled names that file, on each of
    // its lines (the boxes break lines with a carriage return), so that a
    // search for the file finds them all.
    std::string prefix = inFile_ ? counter_ + " " + path_ + ": " : std::string();
    if (label != nullptr) prefix += Localize(label) + ": ";
    const std::string shown = Localize(text);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = shown.find_first_of("\r\n", start);
        std::fprintf(err_, "%s%s\n", prefix.c_str(), shown.substr(start, end - start).c_str());
        if (end == std::string::npos) break;
        start = end + 1;
    }
    std::fflush(err_);
}

void TConsoleView::ClearProgress() {
    if (drawnPercent_ < 0) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    drawnPercent_ = -1;
}

// Redrawn only when the percentage changes: the engine reports every MCU row.
void TConsoleView::DrawProgress() {
    if (!progressBar_ || progressMax_ <= 0) return;
    const long long clamped = std::min<long long>(std::max(progressPosition_, 0), progressMax_);
    const int percent = static_cast<int>(clamped * 100 / progressMax_);
    if (percent == drawnPercent_) return;
    if (percent == 0 && drawnPercent_ < 0) return;  // the reset at run end draws nothing
    drawnPercent_ = percent;
    const int filled = percent * kBarWidth / 100;
    std::fprintf(err_, "\r[%s%s] %3d%% %s", std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, '.').c_str(), percent, name_.c_str());
    std::fflush(err_);
}

}  // namespace plume
