// What a worker's steps show, recorded instead of shown, and shown later on
// the loop's thread in the same order (ParallelRun.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/run/RunView.h"

namespace plume {

// One view call made by a step on a worker, to be made again on the loop's thread.
struct TViewCall {
    enum class TKind {
        FileCounter,
        FileName,
        Status,
        CancelCaption,
        ProgressMax,
        ProgressPosition,
        Plain,
        Warning,
        Error,
        Pump,
        ClearPreview,
        Preview,
    };
    TKind Kind;
    std::string Text;
    int Value = 0;
    std::vector<std::uint8_t> Bytes;
};

// Shows the recorded calls through view, in order.
void Replay(const std::vector<TViewCall>& calls, IRunView& view);

// The view of a worker: records every call into the list it is pointed at.
// It shows nothing itself; the user's choices are the loop's to read.
class TRecordingView : public IRunView {
  public:
    void Into(std::vector<TViewCall>* calls) { calls_ = calls; }

    void SetFileCounter(const std::string& text) override { Add(K::FileCounter, text); }
    void SetFileName(const std::string& name) override { Add(K::FileName, name); }
    void SetStatus(const std::string& text) override { Add(K::Status, text); }
    void SetCancelCaption(const std::string& caption) override { Add(K::CancelCaption, caption); }
    void SetProgressMax(int max) override { Add(K::ProgressMax, {}, max); }
    void SetProgressPosition(int position) override { Add(K::ProgressPosition, {}, position); }
    void ShowPlainMessage(const std::string& text) override { Add(K::Plain, text); }
    void ShowWarning(const std::string& text) override { Add(K::Warning, text); }
    void ShowError(const std::string& text) override { Add(K::Error, text); }
    void ProcessMessages() override { Add(K::Pump, {}); }
    void ClearPreview() override { Add(K::ClearPreview, {}); }
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override {
        calls_->push_back({K::Preview, {}, 0, jpeg});
    }

  private:
    using K = TViewCall::TKind;
    void Add(K kind, const std::string& text, int value = 0) {
        calls_->push_back({kind, text, value, {}});
    }

    std::vector<TViewCall>* calls_ = nullptr;
};

}  // namespace plume
