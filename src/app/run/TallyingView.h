// The run's own view in front of the front end's: it forwards every call and
// keeps the first box of a file that says the file failed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/run/RunView.h"

namespace plume {

// Forwards everything to a front end's view and keeps the first box of a
// file that says it failed: an error, or the plain box of the analysis ("not
// a JPEG").
class TTallyingView : public IRunView {
  public:
    explicit TTallyingView(IRunView& target) : target_(target) {}
    // A file's handling begins: no failure is known of it.
    void StartFile() { fileFailure_.clear(); }
    // The text of the file's first failure box; empty while it has none.
    const std::string& FileFailure() const { return fileFailure_; }

    void SetFileCounter(const std::string& text) override { target_.SetFileCounter(text); }
    void SetFileName(const std::string& name) override { target_.SetFileName(name); }
    void SetStatus(const std::string& text) override { target_.SetStatus(text); }
    void SetCancelCaption(const std::string& caption) override {
        target_.SetCancelCaption(caption);
    }
    void SetProgressMax(int max) override { target_.SetProgressMax(max); }
    void SetProgressPosition(int position) override { target_.SetProgressPosition(position); }
    void ShowPlainMessage(const std::string& text) override;
    void ShowWarning(const std::string& text) override { target_.ShowWarning(text); }
    void ShowError(const std::string& text) override;
    void ProcessMessages() override { target_.ProcessMessages(); }
    void FileStarted(const std::string& path) override { target_.FileStarted(path); }
    void ClearPreview() override { target_.ClearPreview(); }
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override { target_.ShowPreview(jpeg); }
    void FileFinished(const TFileReport& report) override { target_.FileFinished(report); }

  private:
    IRunView& target_;
    std::string fileFailure_;
};

// A box's text up to its first line break (a carriage return).
std::string FirstLine(const std::string& text);

}  // namespace plume
