// The stored options: defaults, a round trip, stored values that cannot be
// used, and Qt's settings store as the oracle of the file's form both ways.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSettings>
#include <QString>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <utility>
#include <vector>

#include "AppTestSupport.h"
#include "app/settings/Settings.h"
#include "app/texts/AppTexts.h"

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
    EXPECT_TRUE(s.gExifAnywhere);
    EXPECT_EQ(s.gEdgePolicy, epMove);
    EXPECT_FALSE(s.gAnyJpeg);
    EXPECT_FALSE(s.gOptimizeTables);
}

TEST_F(SettingsTest, EmptyStoreGivesDefaults) {
    ExpectDefaults(LoadSettings());
}

TEST_F(SettingsTest, RoundTripOfEveryValue) {
    const TSettings stored{true, smOriginalFolder, false, false, true, false, true,
                           true, epSkip,           true,  true};
    ASSERT_TRUE(SaveSettings(stored));
    const TSettings read = LoadSettings();
    EXPECT_TRUE(read.gAnyJpeg);
    EXPECT_TRUE(read.gOptimizeTables);
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
    for (const char* line :
         {"gOperateAllFile=1", "gSaveMethod=4", "gKeepTimeStamp_Create=0", "gKeepTimeStamp_Write=0",
          "gAllowBreakDCF=1", "gShowOption=0", "gFixMirrored=1", "gExifAnywhere=1", "gEdgePolicy=2",
          "gAnyJpeg=1", "gOptimizeTables=1"})
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

// A store its owner made read-only, or one larger than any store can be, is
// neither replaced nor read whole; the larger one is named.
TEST_F(SettingsTest, ReadOnlyOrOversizedStoresStayAsTheyAre) {
    WriteStore("[General]\ngSaveMethod=2\n");
    ::chmod(StoreFile().c_str(), 0444);
    EXPECT_FALSE(SaveSettings(TSettings{}));
    EXPECT_EQ(LoadSettings().gSaveMethod, smBackupExtension);

    ::chmod(StoreFile().c_str(), 0644);
    std::filesystem::resize_file(StoreFile(), std::uintmax_t{2} << 20);
    std::vector<std::string> problems;
    EXPECT_EQ(LoadSettings(&problems).gSaveMethod, smResultFolder);
    EXPECT_EQ(problems, std::vector<std::string>{FormatPathText(kSettingsTooLarge, StoreFile())});
    EXPECT_FALSE(SaveSettings(TSettings{}));
    EXPECT_EQ(std::filesystem::file_size(StoreFile()), std::uintmax_t{2} << 20);
}

// What Qt's store gives for every value, read as the settings were read
// before they did without Qt: the oracle.
TSettings LoadThroughQt() {
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Tidecrest", "plume_auto");
    const auto integer = [&](const char* name) -> std::optional<int> {
        const QVariant value = store.value(name);
        const int type = value.typeId();
        if (type != QMetaType::QString && type != QMetaType::Int && type != QMetaType::LongLong)
            return std::nullopt;
        bool ok = false;
        const qlonglong number = value.toString().trimmed().toLongLong(&ok);
        if (!ok || number != static_cast<int>(number)) return std::nullopt;
        return static_cast<int>(number);
    };
    TSettings settings;
    for (auto [name, field] : {std::pair{"gOperateAllFile", &TSettings::gOperateAllFile},
                               {"gKeepTimeStamp_Create", &TSettings::gKeepTimeStamp_Create},
                               {"gKeepTimeStamp_Write", &TSettings::gKeepTimeStamp_Write},
                               {"gAllowBreakDCF", &TSettings::gAllowBreakDCF},
                               {"gShowOption", &TSettings::gShowOption},
                               {"gFixMirrored", &TSettings::gFixMirrored},
                               {"gExifAnywhere", &TSettings::gExifAnywhere},
                               {"gAnyJpeg", &TSettings::gAnyJpeg},
                               {"gOptimizeTables", &TSettings::gOptimizeTables}})
        if (const auto number = integer(name)) settings.*field = *number != 0;
    if (const auto code = integer("gSaveMethod"))
        settings.gSaveMethod = GetSaveMethod(SetSaveMethod(*code, 0));
    if (const auto code = integer("gEdgePolicy"); code && *code >= 0 && *code < kEdgePolicyCount)
        settings.gEdgePolicy = *code;
    return settings;
}

std::string Describe(const TSettings& s) {
    std::ostringstream out;
    out << s.gOperateAllFile << s.gKeepTimeStamp_Create << s.gKeepTimeStamp_Write
        << s.gAllowBreakDCF << s.gShowOption << s.gFixMirrored << s.gExifAnywhere << s.gAnyJpeg
        << s.gOptimizeTables << " save " << s.gSaveMethod << " edge " << s.gEdgePolicy;
    return out.str();
}

// Every key Qt sees in one file, with its value.
std::map<QString, QVariant> KeysOf(const std::string& path) {
    const QSettings file(QString::fromStdString(path), QSettings::IniFormat);
    std::map<QString, QVariant> keys;
    for (const QString& key : file.allKeys()) keys[key] = file.value(key);
    return keys;
}

struct TStoreCase {
    const char* Name;
    std::vector<std::pair<const char*, const char*>> Files;  // below the test folder
};
void PrintTo(const TStoreCase& c, std::ostream* out) {
    *out << c.Name;
}

class StoreOracleTest : public SettingsTest, public ::testing::WithParamInterface<TStoreCase> {};

// Each store text reads as Qt reads it; a native write keeps what Qt sees of
// the other keys and Qt reads our values back; what Qt writes reads natively.
TEST_P(StoreOracleTest, ReadsAndWritesAsQtDoes) {
    const std::string system = dir_.Path().string() + "/sys1:" + dir_.Path().string() + "/sys2";
    ::setenv("XDG_CONFIG_DIRS", system.c_str(), 1);
    for (const auto& [name, text] : GetParam().Files) {
        std::filesystem::create_directories(dir_.File(name).parent_path());
        std::ofstream(dir_.File(name), std::ios::binary) << text;
    }
    EXPECT_EQ(Describe(LoadSettings()), Describe(LoadThroughQt())) << "read";

    std::map<QString, QVariant> others = KeysOf(StoreFile());
    std::erase_if(others, [](const auto& key) { return key.first.startsWith(u'g'); });
    const TSettings written{true, smOverwrite, false, true, true, false, true, false, epSkip};
    ASSERT_TRUE(SaveSettings(written));
    std::map<QString, QVariant> after = KeysOf(StoreFile());
    EXPECT_EQ(Describe(LoadThroughQt()), Describe(written)) << "native write";
    std::erase_if(after, [](const auto& key) { return key.first.startsWith(u'g'); });
    EXPECT_EQ(after, others) << "other keys";

    {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Tidecrest", "plume_auto");
        store.setValue("gEdgePolicy", epMove);
        store.setValue("gShowOption", 0);
    }
    EXPECT_EQ(Describe(LoadSettings()), Describe(LoadThroughQt())) << "Qt's write";
    ::unsetenv("XDG_CONFIG_DIRS");
}

INSTANTIATE_TEST_SUITE_P(
    OddButValidStores, StoreOracleTest,
    ::testing::Values(
        // The user's file first, then the organisation's, then each system
        // folder's application file, then their organisation files.
        TStoreCase{"FallbackFiles",
                   {{"Tidecrest/plume_auto.conf", "[General]\ngShowOption=0\n"},
                    {"Tidecrest.conf", "[General]\ngShowOption=1\ngEdgePolicy=2\n"},
                    {"sys1/Tidecrest/plume_auto.conf", "gFixMirrored=1\ngEdgePolicy=1\n"},
                    {"sys2/Tidecrest/plume_auto.conf", "gExifAnywhere=1\n"},
                    {"sys1/Tidecrest.conf", "gAllowBreakDCF=1\ngExifAnywhere=0\n"}}},
        TStoreCase{"QuotingSpacingComments",
                   {{"Tidecrest/plume_auto.conf",
                     "; written by hand\n[General]\n  gShowOption  =  \"0\"  \n"
                     "gEdgePolicy = \" 2 \" ; two\ngFixMirrored=\t1\t\ngSaveMethod=3;4\n"
                     "gOperateAllFile=\"1;2\"\nother = \"a, b\"\n"}}},
        TStoreCase{"EscapesAndJoinedLines",
                   {{"Tidecrest/plume_auto.conf",
                     "gEdgePolicy=\\x32\ngShowOption=\\60\ngFixMirrored=1\\\n2\n"
                     "gSaveMethod=@String(2)\ngAllowBreakDCF=@@1\nlong=\"a\nb\"\n"}}},
        TStoreCase{"SectionsCaseAndDuplicates",
                   {{"Tidecrest/plume_auto.conf",
                     "gShowOption=0\n[Other]\ngEdgePolicy=2\nkept=1\n[general]\n"
                     "gFixMirrored=1\ngEdgePolicy=1\n[Other]\nmore=2\n[ GENERAL ]\n"
                     "gfixmirrored=0\nGEdgePolicy=0\ngEdgePolicy=2\n"}}},
        TStoreCase{"ListsAndTypedValues",
                   {{"Tidecrest/plume_auto.conf",
                     "gEdgePolicy=1, 2\ngShowOption=@ByteArray(0)\ngFixMirrored=\"1, 2\"\n"
                     "gExifAnywhere=@Invalid()\nsize=@Size(1 2)\n"},
                    {"Tidecrest.conf", "gExifAnywhere=1\ngAllowBreakDCF=1\n"}}},
        TStoreCase{"ByteOrderMarkAndCrLf",
                   {{"Tidecrest/plume_auto.conf",
                     "\xEF\xBB\xBF[Other]\r\nk=1\r\n[General]\r\ngShowOption=0\r\n"}}}),
    [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace plume
