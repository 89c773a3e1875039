// TFm_Main's behaviour: start-up, the option panel, the close-or-cancel
// button, settings, the start-up timer, drops, and the run's view.
#include "gui/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <exception>
#include <utility>

#include "JpegRotation/EngineMessages.h"
#include "app/files/InputCollection.h"
#include "app/files/SaveResult.h"
#include "app/run/ParallelRun.h"
#include "app/run/RunLoop.h"
#include "app/settings/Settings.h"
#include "gui/GuiTexts.h"
#include "gui/MessageBoxes.h"
#include "gui/ThumbImage.h"

namespace plume::gui {

namespace {

// Paths travel to the run as the file system spells them.
std::string NativePath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QStringList LocalFiles(const QMimeData* mime) {
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) paths << url.toLocalFile();
    }
    return paths;
}

void SetLabelText(QLabel* label, const QString& text) {
    label->setText(text);
    label->adjustSize();
}

}  // namespace

TFm_Main::TFm_Main(QWidget* parent) : QWidget(parent) {
    CreateControls();
    connect(Btn_Option, &QPushButton::clicked, this, [this] { Btn_OptionClick(); });
    connect(Btn_Cancel, &QPushButton::clicked, this, [this] { Btn_CancelClick(); });
    connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
    FormCreate();
    Timer->start();
}

TFm_Main::~TFm_Main() = default;

void TFm_Main::FormCreate() {
    // Defaults first; the stored settings then replace what they hold.
    chk_KeepTimeStamp_Create->setChecked(true);
    chk_KeepTimeStamp_Write->setChecked(true);
    chk_AllowBreakDCF->setChecked(false);
    SetSaveMethod(0);
    FShowOption = true;
    chk_FixMirrored->setChecked(false);
    chk_ExifAnywhere->setChecked(true);
    chk_AnyJpeg->setChecked(false);
    chk_OptimizeTables->setChecked(false);
    cbo_EdgePolicy->setCurrentIndex(epMove);

    ApplySettings(LoadSettings(&settingsProblems_));

    FFileList.clear();
    FRunner = std::make_unique<TRunner>(*this, *this);
    // Files are prepared on every core, as in the console; the loop still
    // shows and saves them one at a time, in list order.
    FRunner->Options.Jobs = DefaultJobs();
    // A refusal that chk_AnyJpeg would lift names it.
    static const std::string anyJpegNote = FormatPathText(kNoteAnyJpegCheckBox, kAnyJpegText);
    FRunner->Options.AnyJpegNote = anyJpegNote.c_str();

    // Btn_OptionClick inverts it back and applies it from the first paint on.
    FShowOption = !FShowOption;
    Btn_OptionClick();

    setAcceptDrops(true);
}

void TFm_Main::ApplySettings(const TSettings& settings) {
    Chk_OperateAllFile->setChecked(settings.gOperateAllFile);
    SetSaveMethod(settings.gSaveMethod);
    chk_KeepTimeStamp_Create->setChecked(settings.gKeepTimeStamp_Create);
    chk_KeepTimeStamp_Write->setChecked(settings.gKeepTimeStamp_Write);
    chk_AllowBreakDCF->setChecked(settings.gAllowBreakDCF);
    FShowOption = settings.gShowOption;
    chk_FixMirrored->setChecked(settings.gFixMirrored);
    chk_ExifAnywhere->setChecked(settings.gExifAnywhere);
    chk_AnyJpeg->setChecked(settings.gAnyJpeg);
    chk_OptimizeTables->setChecked(settings.gOptimizeTables);
    cbo_EdgePolicy->setCurrentIndex(settings.gEdgePolicy);
}

TSettings TFm_Main::CollectSettings() const {
    TSettings settings;
    settings.gOperateAllFile = Chk_OperateAllFile->isChecked();
    settings.gSaveMethod = GetSaveMethod();
    settings.gKeepTimeStamp_Create = chk_KeepTimeStamp_Create->isChecked();
    settings.gKeepTimeStamp_Write = chk_KeepTimeStamp_Write->isChecked();
    settings.gAllowBreakDCF = chk_AllowBreakDCF->isChecked();
    settings.gShowOption = FShowOption;
    settings.gFixMirrored = chk_FixMirrored->isChecked();
    settings.gExifAnywhere = chk_ExifAnywhere->isChecked();
    settings.gEdgePolicy = cbo_EdgePolicy->currentIndex();
    settings.gAnyJpeg = chk_AnyJpeg->isChecked();
    settings.gOptimizeTables = chk_OptimizeTables->isChecked();
    return settings;
}

void TFm_Main::SetSaveMethod(int code) {
    cbo_SaveMethod->setCurrentIndex(plume::SetSaveMethod(code, cbo_SaveMethod->currentIndex()));
}

int TFm_Main::GetSaveMethod() const {
    return plume::GetSaveMethod(cbo_SaveMethod->currentIndex());
}

void TFm_Main::SetClientHeight(int height) {
    setFixedSize(kClientWidth, height);
}

void TFm_Main::Btn_OptionClick() {
    FShowOption = !FShowOption;
    Pnl_Option->setVisible(FShowOption);
    if (FShowOption) {
        Btn_Option->setText(Shown(kOptionCaptionShown));
        SetClientHeight(kClientHeightWithOption);
    } else {
        Btn_Option->setText(Shown(kOptionCaptionHidden));
        SetClientHeight(kClientHeightWithoutOption);
    }
}

void TFm_Main::Btn_CancelClick() {
    // During a run the button stops it after the file it is working on and
    // turns into "閉じる" at once; otherwise it closes the window.
    if (!FRunner->CancelRun()) close();
}

void TFm_Main::FormCloseQuery(bool& canClose) {
    // A close never cancels a run: it goes on to its last file and the
    // program ends once it has returned.
    FRunner->CloseQuery();
    canClose = true;
}

void TFm_Main::FormClose() {
    SaveSettings(CollectSettings());
}

void TFm_Main::closeEvent(QCloseEvent* event) {
    if (closed_) {
        event->accept();
        return;
    }
    bool canClose = true;
    FormCloseQuery(canClose);
    if (!canClose) {
        event->ignore();
        return;
    }
    FormClose();
    closed_ = true;
    event->accept();
}

void TFm_Main::showEvent(QShowEvent* event) {
    closed_ = false;
    if (!centred_) {
        centred_ = true;
        if (QScreen* shown = screen()) {
            const QRect area = shown->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget::showEvent(event);
}

bool TFm_Main::InRun() const {
    return FRunner->InRun();
}

void TFm_Main::AcceptPaths(const QStringList& paths) {
    // A file named or dropped by itself that is no JPEG is named in one box.
    std::string passedOver;
    for (const QString& path : paths) {
        const std::string native = NativePath(path);
        if (AcceptPath(native, FFileList)) continue;
        if (!passedOver.empty()) passedOver += '\r';
        passedOver += FormatPathText(kSkippedNotJpeg, native);
    }
    if (!passedOver.empty()) ShowPlainMessage(passedOver);
}

bool TFm_Main::RunGuarded() {
    // Read once per run, as chk_AllowBreakDCF is: workers prepare files ahead.
    ApplyRunSettings(CollectSettings(), FRunner->Options);
    partialEdgeWarningOff_ = false;
    try {
        FRunner->DoOperation(FFileList);
        return true;
    } catch (const std::exception& error) {
        // The run has put the window back to idle; show why it ended and
        // return to the event loop.
        ShowUncaughtError(Shown(error.what()));
    }
    return false;
}

void TFm_Main::TimerTimer() {
    Timer->stop();
    // A settings file that could not be read is named once the window shows.
    for (const std::string& problem : std::exchange(settingsProblems_, {})) ShowWarning(problem);
    if (InRun()) return;
    FFileList.clear();
    AcceptPaths(commandLine_ ? *commandLine_ : QCoreApplication::arguments().mid(1));
    if (FFileList.empty()) return;
    // A run that ended with an error keeps the window open for drops.
    if (RunGuarded()) close();
}

void TFm_Main::WMDropFile(const QStringList& paths) {
    // The list belongs to a running loop: a drop during a run is ignored.
    if (InRun()) return;
    FFileList.clear();
    AcceptPaths(paths);
    if (!FFileList.empty()) RunGuarded();
}

void TFm_Main::dragEnterEvent(QDragEnterEvent* event) {
    if (!InRun() && !LocalFiles(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TFm_Main::dragMoveEvent(QDragMoveEvent* event) {
    if (!InRun()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TFm_Main::dropEvent(QDropEvent* event) {
    const QStringList paths = LocalFiles(event->mimeData());
    if (InRun() || paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    WMDropFile(paths);
}

// --- The run's view -------------------------------------------------------

void TFm_Main::SetFileCounter(const std::string& text) {
    SetLabelText(Lbl_FileCounter, QString::fromStdString(text));
    Lbl_FileCounter->show();
}

void TFm_Main::SetFileName(const std::string& name) {
    SetLabelText(Lbl_FileName, QString::fromStdString(name));
}

void TFm_Main::SetStatus(const std::string& text) {
    SetLabelText(Lbl_Status, Shown(text));
}

void TFm_Main::SetCancelCaption(const std::string& caption) {
    Btn_Cancel->setText(Shown(caption));
}

void TFm_Main::SetProgressMax(int max) {
    progressPending_.reset();
    ProgressBar->setMaximum(max);
}

// The engine reports every MCU row, and a progress bar repaints at once on
// each change it can show: over a drop of many small photos that costs more
// than the photos themselves. A position is shown at once when a frame's
// time has passed since the last one (so a large photo still moves the bar
// as it goes), when it is 0 (a new photo, or the end of the run), and
// otherwise at the next pumping point.
void TFm_Main::SetProgressPosition(int position) {
    progressPending_ = position;
    if (position == 0 || !progressShown_.isValid() || progressShown_.elapsed() >= kProgressFrameMs)
        ShowPendingProgress();
}

void TFm_Main::ShowPendingProgress() {
    if (!progressPending_) return;
    ProgressBar->setValue(*progressPending_);
    progressPending_.reset();
    progressShown_.start();
}

void TFm_Main::ShowPlainMessage(const std::string& text) {
    ShowMessageBox(TBoxKind::Plain, Shown(text));
}

void TFm_Main::ShowWarning(const std::string& text) {
    // The partial-edge warning comes for many photos of a run: after the
    // first, the user may turn it off until the run ends.
    if (text != kMsgPartialMcu) {
        ShowMessageBox(TBoxKind::Warning, Shown(text));
    } else if (!partialEdgeWarningOff_) {
        partialEdgeWarningOff_ =
            ShowMessageBox(TBoxKind::Warning, Shown(text), Shown(kNoMoreForThisRun));
    }
}

void TFm_Main::ShowError(const std::string& text) {
    ShowMessageBox(TBoxKind::Error, Shown(text));
}

void TFm_Main::ProcessMessages() {
    ShowPendingProgress();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void TFm_Main::ClearPreview() {
    Img_Thumb->Clear();
}

void TFm_Main::ShowPreview(const std::vector<std::uint8_t>& jpeg) {
    // A thumbnail that does not decode leaves the preview empty.
    Img_Thumb->SetPicture(DecodeThumbnail(jpeg));
}

bool TFm_Main::AllowBreakDCF() const {
    return chk_AllowBreakDCF->isChecked();
}

bool TFm_Main::OperateAllFile() const {
    return Chk_OperateAllFile->isChecked();
}

int TFm_Main::SaveMethod() const {
    return GetSaveMethod();
}

bool TFm_Main::KeepTimeStampCreate() const {
    return chk_KeepTimeStamp_Create->isChecked();
}

bool TFm_Main::KeepTimeStampWrite() const {
    return chk_KeepTimeStamp_Write->isChecked();
}

}  // namespace plume::gui
