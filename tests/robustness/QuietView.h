// A run view that shows nothing and counts what it would have shown.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/run/RunView.h"

namespace plume::test {

class TQuietView : public TSilentView {
  public:
    void ShowPlainMessage(const std::string& text) override { boxes.push_back(text); }
    void ShowWarning(const std::string& text) override { boxes.push_back(text); }
    void ShowError(const std::string& text) override { boxes.push_back(text); }
    void ProcessMessages() override {
        if (onProcessMessages) onProcessMessages();
    }
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override { previews.push_back(jpeg); }
    bool AllowBreakDCF() const override { return allowBreakDcf; }
    bool OperateAllFile() const override { return operateAllFile; }
    int SaveMethod() const override { return saveMethod; }
    bool KeepTimeStampCreate() const override { return false; }
    bool KeepTimeStampWrite() const override { return false; }

    bool allowBreakDcf = false;
    bool operateAllFile = false;
    int saveMethod = 0;
    std::function<void()> onProcessMessages;
    std::vector<std::string> boxes;
    std::vector<std::vector<std::uint8_t>> previews;
};

}  // namespace plume::test
