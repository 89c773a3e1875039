// The window at first start: every control's name, text and font, and its
// place among the others; the option panel and the client heights; the
// message boxes.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/texts/Language.h"
#include "gui/GuiFonts.h"

namespace plume::gui::test {
namespace {

using TLayoutTest = TGuiTest;

// A control in the order of reading within its parent: top to bottom, and
// left to right on one row.
struct TPlace {
    const char* Name;
    const char* Parent;
    const char* Text;  // nothing: not checked
    int FontPixels;    // 0: not checked
};

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

QString TextOf(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    return {};
}

// Where each control stands is held as relations, not as copied numbers:
// inside its parent, clear of every other control there, in reading order,
// and (sized by its text) wide enough to show all of it.
// In both languages: the texts are the catalogue's, and each fits.
class TLanguageLayoutTest : public TGuiTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        TGuiTest::SetUp();
        SetLanguage(GetParam());
    }
    void TearDown() override {
        SetLanguage("ja");
        TGuiTest::TearDown();
    }
};

TEST_P(TLanguageLayoutTest, FirstStartShowsEveryControlInsideItsPanelInOrder) {
    TWatchedWindow window;
    const TPlace places[] = {
        {"Lbl_Title", "Fm_Main", "PLUME automatic", 24},
        {"Lbl_Version", "Fm_Main", "Ver. 1.16", 16},
        {"Pnl_Status", "Fm_Main", nullptr, 0},
        {"Lbl_FileName", "Pnl_Status", "ファイルをドラッグすると", 19},
        {"Lbl_Status", "Pnl_Status", "処理を開始します。", 16},
        {"Panel_Thumb", "Fm_Main", nullptr, 0},
        {"Img_Thumb", "Panel_Thumb", nullptr, 0},
        {"ProgressBar", "Fm_Main", nullptr, 0},
        {"Lbl_FileCounter", "Fm_Main", "( xxx / xxx )", 16},
        {"Btn_Option", "Fm_Main", "<< オプション", 12},
        {"Btn_Cancel", "Fm_Main", "閉じる", 12},
        {"Pnl_Option", "Fm_Main", nullptr, 0},
        {"Lbl__SaveMethod", "Pnl_Option", "保存方法", 16},
        {"Chk_OperateAllFile", "Pnl_Option", "回転しない画像も処理を行う。", 15},
        {"cbo_SaveMethod", "Pnl_Option", nullptr, 15},
        {"chk_AllowBreakDCF", "Pnl_Option", "サムネイル画像の横回転を許す。", 16},
        {"txt_AllowBreakDCF", "Pnl_Option", " (DCFの規格外になります。一般的に実害はありません)",
         15},
        {"chk_KeepTimeStamp_Create", "Pnl_Option", "元ファイルの作成日付をコピーする。", 16},
        {"chk_KeepTimeStamp_Write", "Pnl_Option", "元ファイルの更新日付をコピーする。", 16},
        {"chk_FixMirrored", "Pnl_Option", "反転した画像も正しい向きに直す。", 16},
        {"chk_ExifAnywhere", "Pnl_Option", "ファイル先頭以外のEXIFも読み取る。", 16},
        {"chk_AnyJpeg", "Pnl_Option", "プログレッシブ形式などのJPEGも回転する。", 16},
        {"chk_OptimizeTables", "Pnl_Option", "ハフマンテーブルを画像ごとに最適化する。", 16},
        {"Lbl__EdgePolicy", "Pnl_Option", "MCUの単位でない端の処理", 16},
        {"cbo_EdgePolicy", "Pnl_Option", nullptr, 15},
    };
    const QWidget* before = nullptr;  // the control read before, in the same parent
    for (const TPlace& place : places) {
        SCOPED_TRACE(place.Name);
        auto* widget = Child<QWidget>(window, place.Name);
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(widget->parentWidget(), nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName().toStdString(), place.Parent);
        const QRect area = widget->geometry();
        EXPECT_TRUE(widget->parentWidget()->rect().contains(area)) << "outside its parent";
        if (before != nullptr && before->parentWidget() != widget->parentWidget()) before = nullptr;
        if (before != nullptr) {
            const QRect last = before->geometry();
            const bool sameRow = area.top() < last.bottom() && last.top() < area.bottom();
            EXPECT_TRUE(sameRow ? area.left() >= last.right() : area.top() >= last.bottom())
                << "not after " << before->objectName().toStdString();
        }
        for (const TPlace& other : places) {
            auto* sibling = Child<QWidget>(window, other.Name);
            if (sibling != widget && sibling->parentWidget() == widget->parentWidget()) {
                EXPECT_FALSE(area.intersects(sibling->geometry())) << "over " << other.Name;
            }
        }
        before = widget;
        if (place.Text) {
            EXPECT_EQ(TextOf(widget), Utf8(Localize(place.Text).c_str()));
            // It shows all of its text (a check box with its box beside it).
            EXPECT_GE(widget->width(),
                      qobject_cast<QCheckBox*>(widget) != nullptr
                          ? widget->sizeHint().width()
                          : QFontMetrics(widget->font()).horizontalAdvance(TextOf(widget)));
        }
        if (place.FontPixels) {
            EXPECT_EQ(widget->font().pixelSize(), place.FontPixels);
        }
    }

    EXPECT_FALSE(Child<QLabel>(window, "Lbl_FileCounter")->isVisibleTo(&window));
    for (const char* panel : {"Pnl_Status", "Panel_Thumb", "Pnl_Option"}) {
        EXPECT_EQ(Child<QFrame>(window, panel)->frameShadow(), QFrame::Sunken) << panel;
    }

    auto* progress = Child<QProgressBar>(window, "ProgressBar");
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    EXPECT_EQ(progress->value(), 0);

    struct TCombo {
        const char* Name;
        std::vector<const char*> Items;
    };
    const TCombo combos[] = {
        {"cbo_SaveMethod",
         {"resultフォルダに保存します。", "上書きします。元ファイルはゴミ箱に移動します。",
          "上書きします。元ファイルは拡張子を変えて保存します。",
          "上書きします。元ファイルはoriginalフォルダに保存します。",
          "上書きします。元ファイルは保存しません。"}},
        {"cbo_EdgePolicy",
         {"回転。上端・左端に余白が出て反対側が欠けます。",
          "上端・左端に来る半端な部分を切り落とします。",
          "上端・左端が半端になる画像は回転しません。"}},
    };
    for (const TCombo& c : combos) {
        SCOPED_TRACE(c.Name);
        auto* combo = Child<QComboBox>(window, c.Name);
        ASSERT_NE(combo, nullptr);
        EXPECT_FALSE(combo->isEditable());
        ASSERT_EQ(combo->count(), static_cast<int>(c.Items.size()));
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_EQ(combo->itemText(i),
                      Utf8(Localize(c.Items[static_cast<std::size_t>(i)]).c_str()))
                << i;
        // First start: the first item.
        EXPECT_EQ(combo->currentIndex(), 0);
    }

    // First start: the defaults.
    EXPECT_FALSE(Child<QCheckBox>(window, "Chk_OperateAllFile")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "chk_AllowBreakDCF")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "chk_KeepTimeStamp_Create")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(window, "chk_KeepTimeStamp_Write")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "chk_FixMirrored")->isChecked());
    // On by default: many cameras write a JFIF segment before the EXIF one.
    EXPECT_TRUE(Child<QCheckBox>(window, "chk_ExifAnywhere")->isChecked());
    // Off by default: a file that only AnyJpeg takes is refused, as a
    // baseline-only reader refuses it, and the tables are kept.
    EXPECT_FALSE(Child<QCheckBox>(window, "chk_AnyJpeg")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "chk_OptimizeTables")->isChecked());

    auto* timer = Child<QTimer>(window, "Timer");
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 100);
    EXPECT_TRUE(timer->isSingleShot());
    EXPECT_TRUE(timer->isActive());
}

INSTANTIATE_TEST_SUITE_P(Languages, TLanguageLayoutTest, ::testing::Values("ja", "en"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(TLayoutTest, WindowHasItsCaptionFixedSizeAndNoMaximiseButton) {
    TWatchedWindow window;
    EXPECT_EQ(window.objectName(), QStringLiteral("Fm_Main"));
    EXPECT_EQ(window.windowTitle(),
              Utf8("JPEGファイル回転プログラム - plume - 自動処理バージョン"));
    EXPECT_EQ(window.size(), QSize(433, 562));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(window.acceptDrops());
    EXPECT_EQ(window.font().pixelSize(), 12);
    EXPECT_EQ(window.font().family(), JapaneseFontFamily());
}

TEST_F(TLayoutTest, FontsAreJapaneseGothicAndVerdanaOrItsStandIn) {
    const QString japanese = JapaneseFontFamily();
    ASSERT_TRUE(QFontDatabase::hasFamily(japanese)) << japanese.toStdString();
    EXPECT_TRUE(QFontDatabase::writingSystems(japanese).contains(QFontDatabase::Japanese))
        << japanese.toStdString();
    // IPA's gothic, by the name its locale gives it, where there is no MS one.
    if (QFontDatabase::hasFamily(QStringLiteral("IPAPGothic")) &&
        !QFontDatabase::hasFamily(Utf8("ＭＳ Ｐゴシック"))) {
        EXPECT_TRUE(japanese == QStringLiteral("IPAPGothic") || japanese == Utf8("IPA Pゴシック"))
            << japanese.toStdString();
    }
    // Every Japanese text of the window has glyphs in the chosen font.
    const QFontMetrics metrics(JapaneseFont(16));
    for (const QChar c : Utf8("ファイルをドラッグすると処理を開始します。保存方法元作成更新日付")) {
        EXPECT_TRUE(metrics.inFont(c)) << static_cast<int>(c.unicode());
    }
    const QString latin = LatinFontFamily();
    EXPECT_TRUE(latin == QStringLiteral("Verdana") || latin == QStringLiteral("DejaVu Sans") ||
                latin == QStringLiteral("sans-serif"))
        << latin.toStdString();
    if (!QFontDatabase::hasFamily(QStringLiteral("Verdana")) &&
        QFontDatabase::hasFamily(QStringLiteral("DejaVu Sans"))) {
        EXPECT_EQ(QFontInfo(LatinFont(24)).family(), QStringLiteral("DejaVu Sans"));
    }
    EXPECT_EQ(LatinFont(24).pixelSize(), 24);
}

TEST_F(TLayoutTest, OptionButtonHidesAndShowsThePanelAndChangesTheHeight) {
    TWatchedWindow window;
    auto* button = Child<QPushButton>(window, "Btn_Option");
    auto* panel = Child<QFrame>(window, "Pnl_Option");
    ASSERT_TRUE(window.ShowOption());
    EXPECT_TRUE(panel->isVisibleTo(&window));
    // The panel lies wholly below row 240, so 240 rows hide it.
    EXPECT_EQ(panel->y(), 240);
    EXPECT_LE(panel->geometry().bottom() + 1, 562);
    // It holds every option control whole.
    for (const QWidget* control : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        EXPECT_TRUE(panel->contentsRect().contains(control->geometry()))
            << control->objectName().toStdString();

    button->click();
    EXPECT_FALSE(window.ShowOption());
    EXPECT_EQ(window.size(), QSize(433, 240));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_EQ(button->text(), Utf8("オプション >>"));
    EXPECT_FALSE(panel->isVisibleTo(&window));

    button->click();
    EXPECT_TRUE(window.ShowOption());
    EXPECT_EQ(window.size(), QSize(433, 562));
    EXPECT_EQ(button->text(), Utf8("<< オプション"));
    EXPECT_TRUE(panel->isVisibleTo(&window));
}

TEST_F(TLayoutTest, MessageBoxesHaveTheirCaptionsIconsAndSingleButton) {
    struct TCase {
        TBoxKind Kind;
        const char* Caption;
        QMessageBox::Icon Icon;
        const char* Button;
    };
    const TCase cases[] = {
        {TBoxKind::Plain, "plume", QMessageBox::NoIcon, "OK"},
        {TBoxKind::Warning, "警告", QMessageBox::Warning, "はい(&Y)"},
        {TBoxKind::Error, "エラー", QMessageBox::Critical, "はい(&Y)"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Caption);
        auto box = BuildMessageBox(c.Kind, Utf8("一行目\r処理を行うことが出来ません。"));
        EXPECT_EQ(box->windowTitle(), Utf8(c.Caption));
        EXPECT_EQ(box->icon(), c.Icon);
        ASSERT_EQ(box->buttons().size(), 1);
        EXPECT_EQ(box->buttons().front()->text(), Utf8(c.Button));
        EXPECT_EQ(box->text(), Utf8("一行目\n処理を行うことが出来ません。"));
        EXPECT_EQ(box->parentWidget(), nullptr);  // centred on the screen
    }
    EXPECT_EQ(BoxText(QStringLiteral("a\r\nb\rc")), QStringLiteral("a\nb\nc"));
}

TEST_F(TLayoutTest, ShownBoxWaitsForItsButton) {
    // The real modal box, closed by pressing its one button.
    SetMessageBoxHandler({});
    bool sawBox = false;
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        sawBox = box->windowTitle() == Utf8("警告");
        box->buttons().front()->click();
    });
    ShowMessageBox(TBoxKind::Warning, Utf8("注意"));
    EXPECT_TRUE(sawBox);
}

}  // namespace
}  // namespace plume::gui::test
