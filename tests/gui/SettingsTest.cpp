// The settings: read at start, written at close, the combo's codes 3 and 4
// at each other's index, and stored values that cannot be used.
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QPushButton>

#include "GuiTestSupport.h"

namespace plume::gui::test {
namespace {

using TSettingsTest = TGuiTest;

const char* const kValueNames[] = {
    "gOperateAllFile", "gSaveMethod", "gKeepTimeStamp_Create", "gKeepTimeStamp_Write",
    "gAllowBreakDCF",  "gShowOption", "gFixMirrored",          "gExifAnywhere",
    "gEdgePolicy",     "gAnyJpeg",    "gOptimizeTables"};

int StoredInt(const char* name) {
    bool ok = false;
    const int value = OpenStore()->value(QString::fromLatin1(name)).toInt(&ok);
    EXPECT_TRUE(ok) << name;
    return value;
}

void Store(const char* name, const QVariant& value) {
    auto store = OpenStore();
    store->setValue(QString::fromLatin1(name), value);
    store->sync();
}

TEST_F(TSettingsTest, FirstCloseWritesAllValuesWithTheirDefaults) {
    // The suite's store lies in its temporary folder, never in the user's own.
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"));
    EXPECT_TRUE(OpenStore()->fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
    {
        TWatchedWindow window;
        window.show();
        for (const char* name : kValueNames) EXPECT_FALSE(OpenStore()->contains(name)) << name;
        // Btn_Cancel closes the idle window, which writes the settings.
        Child<QPushButton>(window, "Btn_Cancel")->click();
        EXPECT_FALSE(window.isVisible());
    }
    for (const char* name : kValueNames) EXPECT_TRUE(OpenStore()->contains(name)) << name;
    EXPECT_EQ(StoredInt("gOperateAllFile"), 0);
    EXPECT_EQ(StoredInt("gSaveMethod"), 0);
    EXPECT_EQ(StoredInt("gKeepTimeStamp_Create"), 1);
    EXPECT_EQ(StoredInt("gKeepTimeStamp_Write"), 1);
    EXPECT_EQ(StoredInt("gAllowBreakDCF"), 0);
    EXPECT_EQ(StoredInt("gShowOption"), 1);
    EXPECT_EQ(StoredInt("gFixMirrored"), 0);
    EXPECT_EQ(StoredInt("gExifAnywhere"), 1);
    EXPECT_EQ(StoredInt("gEdgePolicy"), 0);
}

TEST_F(TSettingsTest, ChangedOptionsComeBackOnTheNextStart) {
    {
        TWatchedWindow window;
        Child<QCheckBox>(window, "Chk_OperateAllFile")->setChecked(true);
        Child<QComboBox>(window, "cbo_SaveMethod")->setCurrentIndex(2);
        Child<QCheckBox>(window, "chk_KeepTimeStamp_Create")->setChecked(false);
        Child<QCheckBox>(window, "chk_KeepTimeStamp_Write")->setChecked(false);
        Child<QCheckBox>(window, "chk_AllowBreakDCF")->setChecked(true);
        Child<QCheckBox>(window, "chk_FixMirrored")->setChecked(true);
        Child<QCheckBox>(window, "chk_ExifAnywhere")->setChecked(true);
        Child<QComboBox>(window, "cbo_EdgePolicy")->setCurrentIndex(1);
        Child<QPushButton>(window, "Btn_Option")->click();
        window.close();
    }
    EXPECT_EQ(StoredInt("gOperateAllFile"), 1);
    EXPECT_EQ(StoredInt("gSaveMethod"), 2);
    EXPECT_EQ(StoredInt("gKeepTimeStamp_Create"), 0);
    EXPECT_EQ(StoredInt("gKeepTimeStamp_Write"), 0);
    EXPECT_EQ(StoredInt("gAllowBreakDCF"), 1);
    EXPECT_EQ(StoredInt("gShowOption"), 0);
    EXPECT_EQ(StoredInt("gFixMirrored"), 1);
    EXPECT_EQ(StoredInt("gExifAnywhere"), 1);
    EXPECT_EQ(StoredInt("gEdgePolicy"), 1);

    TWatchedWindow next;
    EXPECT_TRUE(Child<QCheckBox>(next, "Chk_OperateAllFile")->isChecked());
    EXPECT_EQ(Child<QComboBox>(next, "cbo_SaveMethod")->currentIndex(), 2);
    EXPECT_FALSE(Child<QCheckBox>(next, "chk_KeepTimeStamp_Create")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(next, "chk_KeepTimeStamp_Write")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(next, "chk_AllowBreakDCF")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(next, "chk_FixMirrored")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(next, "chk_ExifAnywhere")->isChecked());
    EXPECT_EQ(Child<QComboBox>(next, "cbo_EdgePolicy")->currentIndex(), 1);
    EXPECT_FALSE(next.ShowOption());
}

TEST_F(TSettingsTest, HiddenOptionPanelStartsAt240AndOpensToTheFullHeight) {
    Store("gShowOption", 0);
    TWatchedWindow window;
    auto* button = Child<QPushButton>(window, "Btn_Option");
    EXPECT_EQ(window.size(), QSize(433, 240));
    EXPECT_EQ(button->text(), QString::fromUtf8("オプション >>"));
    EXPECT_FALSE(Child<QFrame>(window, "Pnl_Option")->isVisibleTo(&window));
    button->click();
    EXPECT_EQ(window.size(), QSize(433, 562));
    EXPECT_TRUE(Child<QFrame>(window, "Pnl_Option")->isVisibleTo(&window));
}

TEST_F(TSettingsTest, ComboIndexAndStoredCodeSwapThreeAndFour) {
    struct TCase {
        int Index;
        int Code;
    };
    for (const TCase c : {TCase{0, 0}, TCase{1, 1}, TCase{2, 2}, TCase{3, 4}, TCase{4, 3}}) {
        SCOPED_TRACE(c.Index);
        {
            TWatchedWindow window;
            Child<QComboBox>(window, "cbo_SaveMethod")->setCurrentIndex(c.Index);
            EXPECT_EQ(window.GetSaveMethod(), c.Code);
            EXPECT_EQ(window.SaveMethod(), c.Code);
            window.close();
        }
        EXPECT_EQ(StoredInt("gSaveMethod"), c.Code);
        TWatchedWindow next;
        EXPECT_EQ(Child<QComboBox>(next, "cbo_SaveMethod")->currentIndex(), c.Index);
    }
}

TEST_F(TSettingsTest, SetSaveMethodKeepsTheSelectionForAnUnknownCode) {
    TWatchedWindow window;
    auto* combo = Child<QComboBox>(window, "cbo_SaveMethod");
    window.SetSaveMethod(3);
    EXPECT_EQ(combo->currentIndex(), 4);
    window.SetSaveMethod(7);
    EXPECT_EQ(combo->currentIndex(), 4);
    window.SetSaveMethod(-1);
    EXPECT_EQ(combo->currentIndex(), 4);
    window.SetSaveMethod(4);
    EXPECT_EQ(combo->currentIndex(), 3);
}

TEST_F(TSettingsTest, UnusableStoredValuesFallBackToTheirDefaults) {
    Store("gSaveMethod", 7);
    Store("gOperateAllFile", QStringLiteral("yes"));
    Store("gKeepTimeStamp_Create", QStringLiteral("off"));
    Store("gKeepTimeStamp_Write", QStringList{QStringLiteral("1"), QStringLiteral("2")});
    Store("gAllowBreakDCF", QStringLiteral("99999999999"));
    Store("gShowOption", QStringLiteral("hidden"));
    Store("gFixMirrored", QStringLiteral("on"));
    // Two items: Qt writes a list of one as that item alone, which a new
    // process reads back as the text "1".
    Store("gExifAnywhere", QStringList{QStringLiteral("1"), QStringLiteral("1")});
    Store("gEdgePolicy", 3);
    {
        TWatchedWindow window;
        EXPECT_EQ(Child<QComboBox>(window, "cbo_SaveMethod")->currentIndex(), 0);
        EXPECT_FALSE(Child<QCheckBox>(window, "Chk_OperateAllFile")->isChecked());
        EXPECT_TRUE(Child<QCheckBox>(window, "chk_KeepTimeStamp_Create")->isChecked());
        EXPECT_TRUE(Child<QCheckBox>(window, "chk_KeepTimeStamp_Write")->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(window, "chk_AllowBreakDCF")->isChecked());
        EXPECT_FALSE(Child<QCheckBox>(window, "chk_FixMirrored")->isChecked());
        EXPECT_TRUE(Child<QCheckBox>(window, "chk_ExifAnywhere")->isChecked());
        EXPECT_EQ(Child<QComboBox>(window, "cbo_EdgePolicy")->currentIndex(), 0);
        EXPECT_TRUE(window.ShowOption());
        EXPECT_EQ(window.size(), QSize(433, 562));
        window.close();
    }
    // Closing puts valid numbers in their place.
    EXPECT_EQ(StoredInt("gSaveMethod"), 0);
    EXPECT_EQ(StoredInt("gOperateAllFile"), 0);
    EXPECT_EQ(StoredInt("gKeepTimeStamp_Create"), 1);
    EXPECT_EQ(StoredInt("gKeepTimeStamp_Write"), 1);
    EXPECT_EQ(StoredInt("gAllowBreakDCF"), 0);
    EXPECT_EQ(StoredInt("gShowOption"), 1);
    EXPECT_EQ(StoredInt("gFixMirrored"), 0);
    EXPECT_EQ(StoredInt("gExifAnywhere"), 1);
    EXPECT_EQ(StoredInt("gEdgePolicy"), 0);
}

TEST_F(TSettingsTest, StoredNumbersOtherThanZeroReadAsChecked) {
    Store("gOperateAllFile", 5);
    Store("gKeepTimeStamp_Create", 0);
    Store("gSaveMethod", 3);
    TWatchedWindow window;
    EXPECT_TRUE(Child<QCheckBox>(window, "Chk_OperateAllFile")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(window, "chk_KeepTimeStamp_Create")->isChecked());
    EXPECT_EQ(Child<QComboBox>(window, "cbo_SaveMethod")->currentIndex(), 4);
}

}  // namespace
}  // namespace plume::gui::test
