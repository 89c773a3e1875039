// What a pass tells its host, through the callbacks the host set: messages
// with their level, the non-standard table notice, the progress maximum and
// positions. Every stage reports through this one object, on the thread that
// runs the pass.
#pragma once

#include <functional>
#include <string>

#include "BitStreamFile/MessageEvent.h"

namespace plume {

using TProgressEvent = std::function<void(int)>;
using TNotifyEvent = std::function<void()>;

// The host's callbacks; any of them may be empty.
struct THostEvents {
    TMessageEvent onMessage;
    TNotifyEvent onNonStandardHuffman;
    TProgressEvent onProgressMax;
    TProgressEvent onProgress;
};

class TPassEvents {
  public:
    // Reports nothing: the events of a nested pass (a thumbnail, a
    // secondary image) go nowhere.
    TPassEvents() = default;
    explicit TPassEvents(const THostEvents& host) : host_(&host) {}

    void Message(const std::string& text, int level) {
        if (level == kLevelError) errorReported_ = true;
        if (host_ && host_->onMessage) host_->onMessage(text, level);
    }
    void Error(const std::string& text) {
        errorReported_ = true;
        if (host_ && host_->onMessage) host_->onMessage(text, kLevelError);
    }
    void Warning(const std::string& text) {
        if (host_ && host_->onMessage) host_->onMessage(text, kLevelWarning);
    }
    void NonStandardTables() {
        if (host_ && host_->onNonStandardHuffman) host_->onNonStandardHuffman();
    }
    void ProgressMax(int max) {
        if (host_ && host_->onProgressMax) host_->onProgressMax(max);
    }
    void Progress(int position) {
        if (host_ && host_->onProgress) host_->onProgress(position);
    }
    // Any level-2 report in this pass: nothing may be written from a scan
    // that did not decode as coded.
    bool ErrorReported() const { return errorReported_; }

  private:
    const THostEvents* host_ = nullptr;
    bool errorReported_ = false;
};

}  // namespace plume
