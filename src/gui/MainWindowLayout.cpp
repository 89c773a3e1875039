// The window's controls: names, positions and sizes in client pixels,
// captions and fonts.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

#include "gui/GuiFonts.h"
#include "gui/GuiTexts.h"
#include "gui/MainWindow.h"
#include "gui/ThumbImage.h"

namespace plume::gui {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, int left, int top, const char* text,
                  const QFont& font) {
    auto* label = new QLabel(Shown(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    label->move(left, top);
    label->adjustSize();
    return label;
}

QFrame* MakeLoweredPanel(QWidget* parent, const char* name, const QRect& geometry) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setLineWidth(1);
    panel->setGeometry(geometry);
    return panel;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QRect& geometry,
                        const char* caption) {
    auto* button = new QPushButton(Shown(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QRect& geometry,
                        const char* caption, int fontPixels) {
    auto* box = new QCheckBox(Shown(caption), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setFont(JapaneseFont(fontPixels));
    // As wide as the layout has it, or as its text needs in another language.
    box->setGeometry(
        geometry.adjusted(0, 0, std::max(0, box->sizeHint().width() - geometry.width()), 0));
    return box;
}

// A drop-down list of the option panel: only its items can be chosen.
template <std::size_t N>
QComboBox* MakeComboBox(QWidget* parent, const char* name, const QPoint& at,
                        const char* const (&items)[N]) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setFont(JapaneseFont(15));
    combo->setEditable(false);
    for (const char* item : items) combo->addItem(Shown(item));
    combo->setGeometry(at.x(), at.y(), kOptionComboWidth, combo->sizeHint().height());
    return combo;
}

}  // namespace

void TFm_Main::CreateControls() {
    setObjectName(QString::fromLatin1(kFormName));
    setWindowTitle(Shown(kFormCaption));
    // Fixed border: system menu and minimise button, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(JapaneseFont(kFormFontPixels));
    setFixedSize(kClientWidth, kClientHeightWithOption);

    Lbl_Title = MakeLabel(this, "Lbl_Title", 16, 16, kTitleText, LatinFont(24));
    Lbl_Version = MakeLabel(this, "Lbl_Version", 168, 48, kVersionText, LatinFont(16));

    Pnl_Status = MakeLoweredPanel(this, "Pnl_Status", QRect(16, 112, 225, 57));
    Lbl_FileName = MakeLabel(Pnl_Status, "Lbl_FileName", 12, 6, kFileNameInitial, JapaneseFont(19));
    Lbl_Status = MakeLabel(Pnl_Status, "Lbl_Status", 12, 33, kStatusInitial, JapaneseFont(16));

    Panel_Thumb = MakeLoweredPanel(this, "Panel_Thumb", QRect(256, 8, 162, 162));
    Img_Thumb = new TThumbImage(Panel_Thumb);
    Img_Thumb->setObjectName(QStringLiteral("Img_Thumb"));
    Img_Thumb->setGeometry(Panel_Thumb->contentsRect());

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setGeometry(16, 180, 400, 16);
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    Lbl_FileCounter =
        MakeLabel(this, "Lbl_FileCounter", 16, 208, kFileCounterInitial, JapaneseFont(16));
    Lbl_FileCounter->hide();

    Btn_Option = MakeButton(this, "Btn_Option", QRect(240, 208, 83, 25), kOptionCaptionLayout);
    Btn_Cancel = MakeButton(this, "Btn_Cancel", QRect(336, 208, 83, 25), kCloseCaption);

    Pnl_Option = MakeLoweredPanel(this, "Pnl_Option", QRect(16, 240, 401, 313));
    Lbl__SaveMethod =
        MakeLabel(Pnl_Option, "Lbl__SaveMethod", 16, 16, kSaveMethodLabel, JapaneseFont(16));
    Chk_OperateAllFile = MakeCheckBox(Pnl_Option, "Chk_OperateAllFile", QRect(176, 16, 209, 17),
                                      kOperateAllFileText, 15);

    cbo_SaveMethod = MakeComboBox(Pnl_Option, "cbo_SaveMethod", QPoint(20, 36), kSaveMethodItems);

    chk_AllowBreakDCF = MakeCheckBox(Pnl_Option, "chk_AllowBreakDCF", QRect(16, 64, 241, 17),
                                     kAllowBreakDCFText, 16);
    txt_AllowBreakDCF =
        MakeLabel(Pnl_Option, "txt_AllowBreakDCF", 40, 82, kAllowBreakDCFNote, JapaneseFont(15));
    chk_KeepTimeStamp_Create = MakeCheckBox(Pnl_Option, "chk_KeepTimeStamp_Create",
                                            QRect(16, 112, 273, 17), kKeepCreateText, 16);
    chk_KeepTimeStamp_Write = MakeCheckBox(Pnl_Option, "chk_KeepTimeStamp_Write",
                                           QRect(16, 136, 281, 17), kKeepWriteText, 16);
    chk_FixMirrored =
        MakeCheckBox(Pnl_Option, "chk_FixMirrored", QRect(16, 160, 273, 17), kFixMirroredText, 16);
    chk_ExifAnywhere = MakeCheckBox(Pnl_Option, "chk_ExifAnywhere", QRect(16, 184, 281, 17),
                                    kExifAnywhereText, 16);
    chk_AnyJpeg =
        MakeCheckBox(Pnl_Option, "chk_AnyJpeg", QRect(16, 208, 337, 17), kAnyJpegText, 16);
    chk_OptimizeTables = MakeCheckBox(Pnl_Option, "chk_OptimizeTables", QRect(16, 232, 321, 17),
                                      kOptimizeTablesText, 16);
    Lbl__EdgePolicy =
        MakeLabel(Pnl_Option, "Lbl__EdgePolicy", 16, 260, kEdgePolicyLabel, JapaneseFont(16));
    cbo_EdgePolicy = MakeComboBox(Pnl_Option, "cbo_EdgePolicy", QPoint(20, 280), kEdgePolicyItems);
    for (int i = 0; i < cbo_EdgePolicy->count(); ++i)
        cbo_EdgePolicy->setItemData(i, Shown(kEdgePolicyTips[i]), Qt::ToolTipRole);

    Timer = new QTimer(this);
    Timer->setObjectName(QStringLiteral("Timer"));
    Timer->setInterval(kStartupTimerMs);
    Timer->setSingleShot(true);
}

}  // namespace plume::gui
