// Helpers of the application tests: photos made in memory, temporary folders,
// file bytes and times, and a view that records what a run shows.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/run/RunView.h"
#include "fixtures/TempDir.h"

namespace plume::test {

using fixtures::TBytes;

// A baseline JPEG of width x height (the fixture encoder's 4:2:0, no JFIF) whose first
// segment is an EXIF APP1 with the given IFD0 Orientation; orientation 0
// gives no EXIF at all. progressive makes a file the engine refuses.
TBytes MakePhoto(int width, int height, int orientation, bool progressive = false);
// jpeg with that EXIF APP1 (orientation 1 to 8) put right after SOI.
TBytes WithOrientation(TBytes jpeg, int orientation);
// Width and height from a JPEG's frame header.
std::pair<int, int> JpegSize(const TBytes& jpeg);
// The IFD0 Orientation of a photo made by MakePhoto (big-endian EXIF).
int PhotoOrientation(const TBytes& jpeg);

using fixtures::TTempDir;
// The path of name inside dir, as the application's functions take it.
inline std::string PathIn(const TTempDir& dir, const std::string& name) {
    return dir.File(name).string();
}
inline TBytes ReadBytes(const std::string& path) {
    return fixtures::ReadFileBytes(path);
}
inline void WriteBytes(const std::string& path, const TBytes& bytes) {
    fixtures::WriteFileBytes(path, bytes);
}

timespec ModificationTime(const std::string& path);
void SetModificationTime(const std::string& path, timespec time);
// A modification time well in the past with a nanosecond part.
timespec OldTime();
bool SameTime(const timespec& a, const timespec& b);
// Names in a folder (not recursive), sorted.
std::vector<std::string> FolderNames(const std::string& folder);

// Runs body as an unprivileged user when the tests run as root, so that
// permission bits really refuse; the result is body's, or
// kUnprivilegedThrew when it threw. Runs body directly otherwise.
inline constexpr int kUnprivilegedThrew = 124;
int RunUnprivileged(const std::function<int()>& body);
// The same as the given user (and group of that number), when the tests run
// as root: two such users play a photo's owner and another account.
inline constexpr uid_t kNobody = 65534;
inline constexpr uid_t kOtherUser = 65533;
int RunAsUser(uid_t user, const std::function<int()>& body);
// Lets an unprivileged user write everything below root.
void OpenToEveryone(const std::filesystem::path& root);

// While it lives, HOME names home and XDG_DATA_HOME names dataHome (or is
// unset when dataHome is empty), so that the trash and everything under the
// data home lie inside a temporary folder. The old values come back after.
class TFakeHome {
  public:
    TFakeHome(const std::string& home, const std::string& dataHome);
    ~TFakeHome();
    TFakeHome(const TFakeHome&) = delete;
    TFakeHome& operator=(const TFakeHome&) = delete;

  private:
    std::optional<std::string> oldHome_, oldDataHome_;
};

// A view that records every call as a line ("status:解析中...", "pump", ...),
// with settable options and a hook at each pumping point.
class TRecordingView : public IRunView, public IRunChoices {
  public:
    std::vector<std::string> Log;
    std::vector<TFileReport> Reports;
    // Called at every pumping point with its number in the run (from 1).
    std::function<void(int)> OnPump;
    int Pumps = 0;

    bool optAllowBreakDCF = false;
    bool optOperateAllFile = false;
    int optSaveMethod = 0;
    bool optKeepCreate = true;
    bool optKeepWrite = true;

    // Lines of the log that start with prefix.
    std::vector<std::string> Lines(const std::string& prefix) const;
    std::string Last(const std::string& prefix) const;

    void SetFileCounter(const std::string& text) override { Log.push_back("counter:" + text); }
    void SetFileName(const std::string& name) override { Log.push_back("name:" + name); }
    void SetStatus(const std::string& text) override { Log.push_back("status:" + text); }
    void SetCancelCaption(const std::string& caption) override {
        Log.push_back("caption:" + caption);
    }
    void SetProgressMax(int max) override { Log.push_back("max:" + std::to_string(max)); }
    void SetProgressPosition(int position) override {
        Log.push_back("position:" + std::to_string(position));
    }
    void ShowPlainMessage(const std::string& text) override { Log.push_back("plain:" + text); }
    void ShowWarning(const std::string& text) override { Log.push_back("warning:" + text); }
    void ShowError(const std::string& text) override { Log.push_back("error:" + text); }
    void ProcessMessages() override;
    void ClearPreview() override { Log.push_back("clear-preview"); }
    void ShowPreview(const std::vector<std::uint8_t>&) override { Log.push_back("preview"); }
    bool AllowBreakDCF() const override { return optAllowBreakDCF; }
    bool OperateAllFile() const override { return optOperateAllFile; }
    int SaveMethod() const override { return optSaveMethod; }
    bool KeepTimeStampCreate() const override { return optKeepCreate; }
    bool KeepTimeStampWrite() const override { return optKeepWrite; }
    void FileFinished(const TFileReport& report) override { Reports.push_back(report); }
};

}  // namespace plume::test
