// The console's view of a run: one line per file on stdout ("( 1 / 3 )
// photos/IMG_0001.JPG 右に90度回転処理を行います。"), boxes as lines on stderr
// that name the file by its path as listed ("( 2 / 5 ) photos/b.jpg: 警告:
// ..."), and a progress bar on stderr when it is a terminal. Options come
// from the parsed command line. In a dry run, the line of a file that the run
// would store goes on to say where ("... 保存先: photos/result/IMG_0001.JPG").
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "app/run/RunView.h"
#include "app/settings/Settings.h"

namespace plume {

class TConsoleView : public IRunView, public IRunChoices {
  public:
    TConsoleView(const TSettings& options, std::FILE* out, std::FILE* err, bool progressBar);

    // Called at each pumping point of the run; the console checks Ctrl-C there.
    void SetMessagePump(std::function<void()> pump) { pump_ = std::move(pump); }
    // The -o path, where a dry run's file would be stored.
    void SetOutputPath(const std::string& path) { outputPath_ = path; }
    // The last status text: the run-end text once a run has returned.
    const std::string& Status() const { return status_; }
    // A line on stderr: the error that ended the run, or the run-end text;
    // while a file is being handled, it names that file.
    void PrintError(const std::string& text);
    void PrintNote(const std::string& text);

    void SetFileCounter(const std::string& text) override { counter_ = text; }
    void SetFileName(const std::string& name) override { name_ = name; }
    void SetStatus(const std::string& text) override { status_ = text; }
    void SetCancelCaption(const std::string&) override {}
    void SetProgressMax(int max) override;
    void SetProgressPosition(int position) override;
    void ShowPlainMessage(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ProcessMessages() override;
    void FileStarted(const std::string& path) override;
    void ClearPreview() override {}
    void ShowPreview(const std::vector<std::uint8_t>&) override {}
    bool AllowBreakDCF() const override { return options_.gAllowBreakDCF; }
    bool OperateAllFile() const override { return options_.gOperateAllFile; }
    int SaveMethod() const override { return options_.gSaveMethod; }
    bool KeepTimeStampCreate() const override { return options_.gKeepTimeStamp_Create; }
    bool KeepTimeStampWrite() const override { return options_.gKeepTimeStamp_Write; }
    void FileFinished(const TFileReport& report) override;

  private:
    void PrintMessage(const char* label, const std::string& text);
    void ClearProgress();
    void DrawProgress();

    TSettings options_;
    std::FILE* out_;
    std::FILE* err_;
    bool progressBar_;
    std::function<void()> pump_;
    std::string counter_;
    std::string name_;
    std::string path_;  // of the file being handled
    std::string outputPath_;
    bool inFile_ = false;  // between FileStarted and FileFinished
    std::string status_;
    int progressMax_ = 100;
    int progressPosition_ = 0;
    int drawnPercent_ = -1;  // -1: no bar on the screen
};

}  // namespace plume
