// The texts, font names and sizes that only the window shows; the texts it
// shares with the run and the console come from app/AppTexts.h.
#pragma once

#include <QString>
#include <string>

#include "app/texts/AppTexts.h"
#include "app/texts/Language.h"

namespace plume::gui {

// A text of the program as the window shows it: in the user's language.
inline QString Shown(const std::string& text) {
    return QString::fromStdString(Localize(text));
}

// Window.
inline constexpr const char* kFormName = "Fm_Main";
inline constexpr const char* kFormCaption = kAppTitle;
inline constexpr const char* kApplicationTitle = "plume";
inline constexpr int kClientWidth = 433;
inline constexpr int kClientHeightWithOption = 562;
inline constexpr int kClientHeightWithoutOption = 240;
inline constexpr int kOptionComboWidth = 373;  // cbo_SaveMethod and cbo_EdgePolicy

// Fonts, asked for in this order; sizes are in pixels.
inline constexpr const char* kJapaneseFontFamilies[] = {"ＭＳ Ｐゴシック", "MS PGothic",
                                                        "IPAPGothic", "IPA Pゴシック"};
inline constexpr const char* kLatinFontFamilies[] = {"Verdana", "DejaVu Sans"};
inline constexpr int kFormFontPixels = 12;

// Labels.
inline constexpr const char* kTitleText = "PLUME automatic";
inline constexpr const char* kFileNameInitial = Msg("ファイルをドラッグすると");
inline constexpr const char* kStatusInitial = Msg("処理を開始します。");
inline constexpr const char* kFileCounterInitial = "( xxx / xxx )";
inline constexpr const char* kSaveMethodLabel = Msg("保存方法");
inline constexpr const char* kAllowBreakDCFNote =
    Msg(" (DCFの規格外になります。一般的に実害はありません)");
inline constexpr const char* kEdgePolicyLabel = Msg("MCUの単位でない端の処理");

// Buttons.
inline constexpr const char* kOptionCaptionLayout = Msg("オプション");
inline constexpr const char* kOptionCaptionShown = Msg("<< オプション");
inline constexpr const char* kOptionCaptionHidden = Msg("オプション >>");
inline constexpr const char* kCloseCaption = kCaptionClose;
inline constexpr const char* kCancelCaption = kCaptionCancel;

// Check boxes.
inline constexpr const char* kOperateAllFileText = Msg("回転しない画像も処理を行う。");
inline constexpr const char* kAllowBreakDCFText = Msg("サムネイル画像の横回転を許す。");
inline constexpr const char* kKeepCreateText = Msg("元ファイルの作成日付をコピーする。");
inline constexpr const char* kKeepWriteText = Msg("元ファイルの更新日付をコピーする。");
inline constexpr const char* kFixMirroredText = Msg("反転した画像も正しい向きに直す。");
inline constexpr const char* kExifAnywhereText = Msg("ファイル先頭以外のEXIFも読み取る。");
inline constexpr const char* kAnyJpegText = Msg("プログレッシブ形式などのJPEGも回転する。");
inline constexpr const char* kOptimizeTablesText = Msg("ハフマンテーブルを画像ごとに最適化する。");
// The last line of the refusal of a file that chk_AnyJpeg would turn; %s is
// the check box's text.
inline constexpr const char* kNoteAnyJpegCheckBox =
    Msg("「%s」をオンにすると、この画像も回転します。");

// Items of cbo_EdgePolicy, in code order (move, trim, skip), short enough for
// the box; the tips say in full what each does.
inline constexpr const char* kEdgePolicyItems[] = {
    Msg("回転。上端・左端に余白が出て反対側が欠けます。"),
    Msg("上端・左端に来る半端な部分を切り落とします。"),
    Msg("上端・左端が半端になる画像は回転しません。"),
};
inline constexpr const char* kEdgePolicyTips[] = {
    Msg("MCU の単位でない端が上端か左端に来るときも、そのまま回転します。"
        "その端には余白の帯が出て、同じ幅だけ反対側の端の画像が欠けます。"),
    Msg("上端か左端に来る半端な列・行を切り落として回転します（jpegtran -trim と同じ）。"
        "画像はその分だけ小さくなります。"),
    Msg("上端か左端が半端になる画像は回転せず、そのままにします。"
        "サムネイル画像の半端な部分は切り落とします。"),
};

// Message boxes.
inline constexpr const char* kWarningCaption = kCaptionWarning;
inline constexpr const char* kErrorCaption = kCaptionError;
inline constexpr const char* kYesButton = kButtonYes;
inline constexpr const char* kOkButton = "OK";
// Below the partial-edge warning: ticked, the warning is not shown again for
// the rest of the run.
inline constexpr const char* kNoMoreForThisRun = Msg("以降のファイルでは表示しない");

// Start-up timer.
inline constexpr int kStartupTimerMs = 100;
// ProgressBar repaints at most once in this many milliseconds during a photo.
inline constexpr int kProgressFrameMs = 16;

}  // namespace plume::gui
