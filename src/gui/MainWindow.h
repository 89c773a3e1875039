// TFm_Main: the one window of plume. It lays out the controls, keeps the
// settings between starts, starts runs from the command line and from drops,
// and shows a run's progress as the run loop's view.
#pragma once

#include <QElapsedTimer>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/run/RunView.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace plume {
class TRunner;
struct TSettings;
}  // namespace plume

namespace plume::gui {

class TThumbImage;

class TFm_Main : public QWidget, public IRunView, public IRunChoices {
  public:
    explicit TFm_Main(QWidget* parent = nullptr);
    ~TFm_Main() override;

    // Handlers, named as the window's events are.
    void FormCreate();
    void FormCloseQuery(bool& canClose);
    void FormClose();
    void Btn_OptionClick();
    void Btn_CancelClick();
    void TimerTimer();
    void WMDropFile(const QStringList& paths);

    // cbo_SaveMethod by save-method code (codes 3 and 4 sit at each other's index).
    void SetSaveMethod(int code);
    int GetSaveMethod() const;

    // The parameters TimerTimer reads; by default the program's own, after its path.
    void SetCommandLine(const QStringList& parameters) { commandLine_ = parameters; }
    // True from the start of a run until it has returned.
    bool InRun() const;
    // The paths of the last run, or of the run going on.
    const std::vector<std::string>& FileList() const { return FFileList; }
    bool ShowOption() const { return FShowOption; }

    // IRunView and IRunChoices.
    void SetFileCounter(const std::string& text) override;
    void SetFileName(const std::string& name) override;
    void SetStatus(const std::string& text) override;
    void SetCancelCaption(const std::string& caption) override;
    void SetProgressMax(int max) override;
    void SetProgressPosition(int position) override;
    void ShowPlainMessage(const std::string& text) override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ProcessMessages() override;
    void ClearPreview() override;
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override;
    bool AllowBreakDCF() const override;
    bool OperateAllFile() const override;
    int SaveMethod() const override;
    bool KeepTimeStampCreate() const override;
    bool KeepTimeStampWrite() const override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void CreateControls();  // the layout
    void ApplySettings(const TSettings& settings);
    TSettings CollectSettings() const;
    void SetClientHeight(int height);
    // Runs the loop over the list; an error that ends the run is shown in an
    // error box. False when the run ended with such an error.
    bool RunGuarded();
    void AcceptPaths(const QStringList& paths);
    // The last position SetProgressPosition held back, on ProgressBar.
    void ShowPendingProgress();

    // Controls, named as in the layout.
    QLabel* Lbl_Title = nullptr;
    QLabel* Lbl_Version = nullptr;
    QFrame* Pnl_Status = nullptr;
    QLabel* Lbl_FileName = nullptr;
    QLabel* Lbl_Status = nullptr;
    QFrame* Panel_Thumb = nullptr;
    TThumbImage* Img_Thumb = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QLabel* Lbl_FileCounter = nullptr;
    QPushButton* Btn_Option = nullptr;
    QPushButton* Btn_Cancel = nullptr;
    QFrame* Pnl_Option = nullptr;
    QLabel* Lbl__SaveMethod = nullptr;
    QCheckBox* Chk_OperateAllFile = nullptr;
    QComboBox* cbo_SaveMethod = nullptr;
    QCheckBox* chk_AllowBreakDCF = nullptr;
    QLabel* txt_AllowBreakDCF = nullptr;
    QCheckBox* chk_KeepTimeStamp_Create = nullptr;
    QCheckBox* chk_KeepTimeStamp_Write = nullptr;
    QCheckBox* chk_FixMirrored = nullptr;
    QCheckBox* chk_ExifAnywhere = nullptr;
    QCheckBox* chk_AnyJpeg = nullptr;
    QCheckBox* chk_OptimizeTables = nullptr;
    QLabel* Lbl__EdgePolicy = nullptr;
    QComboBox* cbo_EdgePolicy = nullptr;
    QTimer* Timer = nullptr;

    std::vector<std::string> FFileList;
    std::unique_ptr<TRunner> FRunner;  // the run loop: engine, streams, run flag
    bool FShowOption = true;
    bool closed_ = false;
    bool centred_ = false;
    std::optional<QStringList> commandLine_;
    std::optional<int> progressPending_;         // a position not yet shown
    std::vector<std::string> settingsProblems_;  // shown once the window is up
    bool partialEdgeWarningOff_ = false;         // until the run ends
    QElapsedTimer progressShown_;                // since a position was last shown
};

}  // namespace plume::gui
