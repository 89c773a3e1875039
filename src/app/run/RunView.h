// What the run loop needs from a front end, in two parts: the view that shows
// what the run does (IRunView), and the user's choices that it reads
// (IRunChoices). The window (plume), the console (plume-cli) and the tests'
// fake implement both; what records a worker's calls for later shows only.
// The loop reads the choices at the moments it uses them, so a change during
// a run affects the files that follow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plume {

// How one file of a run ended.
enum class TFileOutcome {
    Saved,      // stored by the save method (rotated, or unchanged with Chk_OperateAllFile)
    WouldSave,  // a dry run (TRunOptions::DryRun): would have been stored; nothing written
    NotNeeded,  // no turn needed and not stored; the file was not touched
    Refused,    // the engine refused it (its error box was shown); nothing written
    // The turn would carry an edge that ends inside an MCU to the top or
    // left side, and the run's edge policy is skip: the file was not touched.
    Skipped,
    KeepFailed,  // the input could not be kept, so it was not replaced; nothing written
    // Another program changed the input after it was loaded: not replaced,
    // and a copy already kept stays.
    InputChanged,
    // Storing was refused (its error box was shown): the output would have
    // replaced something other than a regular file, gone through another
    // user's link or folder, or been the input itself. Nothing written.
    SaveRefused,
    // The file could not be read, analysed or saved (a stream error, shown
    // as an error), was too large, or its handling ran out of memory; the
    // run went on or ended as its options say.
    Error,
};

struct TFileReport {
    std::size_t Index = 0;  // in the run's list, from 0
    std::string Path;
    TFileOutcome Outcome = TFileOutcome::NotNeeded;
    // An error or the analysis's "not a JPEG" message was shown for the file.
    bool Failed = false;
    // No turn was read because the EXIF segment does not follow SOI, but an
    // EXIF APP1 later in the header asks for one (looked for only when the
    // run's options ask).
    bool LaterExifAsksTurn = false;
    // Why it failed: the first line of its first failure box; else empty.
    std::string Reason;
};

class IRunView {
  public:
    virtual ~IRunView() = default;

    // Lbl_FileCounter ("( 3 / 12 )"), made visible on first use.
    virtual void SetFileCounter(const std::string& text) = 0;
    // Lbl_FileName: the file name part of the path, or empty at run end.
    virtual void SetFileName(const std::string& name) = 0;
    // Lbl_Status.
    virtual void SetStatus(const std::string& text) = 0;
    // Btn_Cancel's caption: "キャンセル" during a run, "閉じる" after it.
    virtual void SetCancelCaption(const std::string& caption) = 0;

    // ProgressBar.
    virtual void SetProgressMax(int max) = 0;
    virtual void SetProgressPosition(int position) = 0;

    // Modal boxes: plain (level 0), warning "警告" (level 1), error "エラー" (level 2).
    virtual void ShowPlainMessage(const std::string& text) = 0;
    virtual void ShowWarning(const std::string& text) = 0;
    virtual void ShowError(const std::string& text) = 0;

    // Delivers pending window messages; a cancel press is seen only here.
    virtual void ProcessMessages() = 0;

    // Img_Thumb: emptied at run start; shows an EXIF thumbnail (JPEG bytes).
    virtual void ClearPreview() = 0;
    virtual void ShowPreview(const std::vector<std::uint8_t>& jpeg) = 0;

    // Called as the handling of a file begins, with its path as listed.
    virtual void FileStarted(const std::string& path) { (void)path; }
    // Called once a file is done (not for a file whose error ended the run
    // by being thrown). The window needs nothing here; the console prints its line.
    virtual void FileFinished(const TFileReport& report) { (void)report; }
};

// The user's choices that a run reads, each when it uses it.
class IRunChoices {
  public:
    virtual ~IRunChoices() = default;
    virtual bool AllowBreakDCF() const = 0;        // chk_AllowBreakDCF, once per run
    virtual bool OperateAllFile() const = 0;       // Chk_OperateAllFile, per file
    virtual int SaveMethod() const = 0;            // GetSaveMethod(), per file
    virtual bool KeepTimeStampCreate() const = 0;  // chk_KeepTimeStamp_Create
    virtual bool KeepTimeStampWrite() const = 0;   // chk_KeepTimeStamp_Write
};

}  // namespace plume
