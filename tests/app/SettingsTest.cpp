// The stored options: defaults, a round trip, and stored values that cannot
// be used.
#include <gtest/gtest.h>

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <fstream>

#include "AppTestSupport.h"
#include "app/Settings.h"

namespace plume {
namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The store's folder is fixed at its first use in a process, so the
        // test points it into its own temporary folder directly as well.
        ::setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
        const QString folder = QString::fromStdString(dir_.Path().string());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
    }
    std::string StoreFile() const { return test::PathIn(dir_, "Tidecrest/plume_auto.conf"); }
    void WriteStore(const std::string& text) const {
        std::filesystem::create_directories(test::PathIn(dir_, "Tidecrest"));
        std::ofstream(StoreFile()) << text;
    }
    test::TTempDir dir_;
};

void ExpectDefaults(const TSettings& s) {
    EXPECT_FALSE(s.gOperateAllFile);
    EXPECT_EQ(s.gSaveMethod, smResultFolder);
    EXPECT_TRUE(s.gKeepTimeStamp_Create);
    EXPECT_TRUE(s.gKeepTimeStamp_Write);
    EXPECT_FALSE(s.gAllowBreakDCF);
    EXPECT_TRUE(s.gShowOption);
    EXPECT_FALSE(s.gFixMirrored);
    EXPECT_FALSE(s.gExifAnywhere);
    EXPECT_EQ(s.gEdgePolicy, epMove);
}

TEST_F(SettingsTest, EmptyStoreGivesDefaults) {
    ExpectDefaults(LoadSettings());
}

TEST_F(SettingsTest, RoundTripOfEveryValue) {
    const TSettings stored{true, smOriginalFolder, false, false, true, false, true, true, epSkip};
    ASSERT_TRUE(SaveSettings(stored));
    const TSettings read = LoadSettings();
    EXPECT_TRUE(read.gFixMirrored);
    EXPECT_TRUE(read.gExifAnywhere);
    EXPECT_EQ(read.gEdgePolicy, epSkip);
    EXPECT_TRUE(read.gOperateAllFile);
    EXPECT_EQ(read.gSaveMethod, smOriginalFolder);  // the code, not the combo index 3
    EXPECT_FALSE(read.gKeepTimeStamp_Create);
    EXPECT_FALSE(read.gKeepTimeStamp_Write);
    EXPECT_TRUE(read.gAllowBreakDCF);
    EXPECT_FALSE(read.gShowOption);

    const test::TBytes file = test::ReadBytes(StoreFile());
    const std::string text(file.begin(), file.end());
    for (const char* line : {"gOperateAllFile=1", "gSaveMethod=4", "gKeepTimeStamp_Create=0",
                             "gKeepTimeStamp_Write=0", "gAllowBreakDCF=1", "gShowOption=0",
                             "gFixMirrored=1", "gExifAnywhere=1", "gEdgePolicy=2"})
        EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
}

TEST_F(SettingsTest, UnusableValuesFallBackToTheirDefaults) {
    WriteStore(
        "[General]\n"
        "gOperateAllFile=abc\n"
        "gSaveMethod=7\n"
        "gKeepTimeStamp_Create=4294967296\n"  // 0 when cut to 32 bits

        "gKeepTimeStamp_Write=1.5\n"
        "gAllowBreakDCF=1, 2\n"  // a list

        "gShowOption=@ByteArray(0)\n"  // bytes, not a number
        "gFixMirrored=on\n"
        "gExifAnywhere=\n"
        "gEdgePolicy=3\n"  // no such choice
    );
    ExpectDefaults(LoadSettings());
    WriteStore("[General]\ngEdgePolicy=-1\n");
    ExpectDefaults(LoadSettings());
}

TEST_F(SettingsTest, AnyNonZeroNumberIsTrue) {
    WriteStore("[General]\ngOperateAllFile=-5\ngAllowBreakDCF=2\ngSaveMethod=3\ngShowOption=0\n");
    const TSettings read = LoadSettings();
    EXPECT_TRUE(read.gOperateAllFile);
    EXPECT_TRUE(read.gAllowBreakDCF);
    EXPECT_EQ(read.gSaveMethod, smOverwrite);
    EXPECT_FALSE(read.gShowOption);
}

TEST_F(SettingsTest, UnknownSaveMethodIsStoredAsDefault) {
    TSettings settings;
    settings.gSaveMethod = 7;
    ASSERT_TRUE(SaveSettings(settings));
    EXPECT_EQ(LoadSettings().gSaveMethod, smResultFolder);
}

}  // namespace
}  // namespace plume
