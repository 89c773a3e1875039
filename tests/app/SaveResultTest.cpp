// The five save methods on real files: what is kept, where the output goes,
// which times it gets, and that a failing keep step leaves the input alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "AppTestSupport.h"
#include "app/files/SaveResult.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

using test::TBytes;

const TBytes kInput = {0xFF, 0xD8, 'i', 'n', 'p', 'u', 't', 0xFF, 0xD9};
const TBytes kOutput = {0xFF, 0xD8, 'o', 'u', 't', 'p', 'u', 't', 0xFF, 0xD9};

// Points the trash and the home folder into root while it lives, so that the
// home trash under root/data is the one used and nothing is written elsewhere.
class TTrashInside : public test::TFakeHome {
  public:
    explicit TTrashInside(const test::TTempDir& root)
        : TFakeHome(root.Path().string(), test::PathIn(root, "data")) {
        std::filesystem::create_directories(test::PathIn(root, "data"));
    }
};

TEST(SaveMethodCodes, ComboOrderSwapsCodesThreeAndFour) {
    const int codes[] = {smResultFolder, smRecycleBin, smBackupExtension, smOriginalFolder,
                         smOverwrite};
    for (int index = 0; index < kSaveMethodCount; ++index) {
        EXPECT_EQ(GetSaveMethod(index), codes[index]) << "index " << index;
        EXPECT_EQ(SetSaveMethod(codes[index], 0), index) << "code " << codes[index];
    }
    EXPECT_EQ(GetSaveMethod(-1), smResultFolder);  // no selection
    EXPECT_EQ(GetSaveMethod(5), smResultFolder);
    EXPECT_EQ(SetSaveMethod(7, 2), 2);  // unknown code keeps the selection
    EXPECT_EQ(SetSaveMethod(-1, 4), 4);
}

TEST(SavePaths, DerivedFromFolderAndNameParts) {
    const TSavePaths result = SavePathsFor(smResultFolder, "/pics/a.jpg");
    EXPECT_EQ(result.Folder, "/pics/result");
    EXPECT_EQ(result.Output, "/pics/result/a.jpg");
    EXPECT_EQ(result.KeptCopy, "");

    const TSavePaths backup = SavePathsFor(smBackupExtension, "/pics/IMG_0001.JPG");
    EXPECT_EQ(backup.KeptCopy, "/pics/IMG_0001.bak");
    EXPECT_EQ(backup.Output, "/pics/IMG_0001.JPG");
    EXPECT_EQ(SavePathsFor(smBackupExtension, "/pics/a.b.jpg").KeptCopy, "/pics/a.b.bak");
    EXPECT_EQ(SavePathsFor(smBackupExtension, "/pics/noext").KeptCopy, "/pics/noext.bak");

    const TSavePaths original = SavePathsFor(smOriginalFolder, "rel.jpg");
    EXPECT_EQ(original.Folder, "original");
    EXPECT_EQ(original.KeptCopy, "original/rel.jpg");
    EXPECT_EQ(original.Output, "rel.jpg");

    EXPECT_EQ(SavePathsFor(smOverwrite, "/p/a.jpg").Output, "/p/a.jpg");
    EXPECT_EQ(SavePathsFor(smRecycleBin, "/p/a.jpg").Output, "/p/a.jpg");
    // An unknown code never overwrites the input.
    EXPECT_EQ(SavePathsFor(9, "/p/a.jpg").Output, "/p/result/a.jpg");
}

class SaveResultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        input_ = test::PathIn(dir_, "a.jpg");
        test::WriteBytes(input_, kInput);
        ::chmod(input_.c_str(), 0640);
        test::SetModificationTime(input_, test::OldTime());
        times_.LastWrite = test::OldTime();
        times_.Creation = timespec{1000, 5};
        data_ = TMemoryStream(kOutput);
        data_.SetPosition(3);  // the whole content is written, whatever the position
    }
    TSaveOutcome Save(int method, bool keepCreate = true, bool keepWrite = true) {
        return SaveResult(data_, input_, times_, TSaveOptions{method, keepCreate, keepWrite})
            .Outcome;
    }
    void ExpectInputUntouched() const {
        EXPECT_EQ(test::ReadBytes(input_), kInput);
        EXPECT_TRUE(test::SameTime(test::ModificationTime(input_), test::OldTime()));
    }
    // No temporary file of a safe write may stay behind.
    void ExpectNoTemporaryFiles(const std::string& folder) const {
        for (const std::string& name : test::FolderNames(folder))
            EXPECT_EQ(name.find(".plume-"), std::string::npos) << name;
    }

    test::TTempDir dir_;
    std::string input_;
    TFileTimes times_;
    TMemoryStream data_;
};

TEST_F(SaveResultTest, ResultFolderLeavesInputAndKeepsTimes) {
    ASSERT_EQ(Save(smResultFolder), TSaveOutcome::Saved);
    const std::string output = test::PathIn(dir_, "result/a.jpg");
    EXPECT_EQ(test::ReadBytes(output), kOutput);
    EXPECT_TRUE(
        test::SameTime(test::ModificationTime(output), test::OldTime()));  // nanoseconds too
    ExpectInputUntouched();

    // A second save replaces the first output without a question.
    data_ = TMemoryStream(TBytes{1, 2, 3});
    ASSERT_EQ(Save(smResultFolder), TSaveOutcome::Saved);
    EXPECT_EQ(test::ReadBytes(output), (TBytes{1, 2, 3}));
    ExpectNoTemporaryFiles(test::PathIn(dir_, "result"));
}

TEST_F(SaveResultTest, OutputTimesFollowTheOptions) {
    ASSERT_EQ(Save(smOverwrite, true, false), TSaveOutcome::Saved);
    // Without the last-write option the output has the time of writing.
    EXPECT_GT(test::ModificationTime(input_).tv_sec, test::OldTime().tv_sec + 1000);
    EXPECT_EQ(test::ReadBytes(input_), kOutput);
}

TEST_F(SaveResultTest, BackupExtensionCopiesInputWithItsTimes) {
    const std::string backup = test::PathIn(dir_, "a.bak");
    test::WriteBytes(backup, kInput);  // an older copy of the same bytes is replaced
    ASSERT_EQ(Save(smBackupExtension, false, false), TSaveOutcome::Saved);
    EXPECT_EQ(test::ReadBytes(backup), kInput);
    // The copy gets the input's times whatever the options say.
    EXPECT_TRUE(test::SameTime(test::ModificationTime(backup), test::OldTime()));
    EXPECT_EQ(test::ReadBytes(input_), kOutput);
    ExpectNoTemporaryFiles(dir_.Path());
}

TEST_F(SaveResultTest, OriginalFolderCopiesInputWithItsTimes) {
    ASSERT_EQ(Save(smOriginalFolder), TSaveOutcome::Saved);
    const std::string kept = test::PathIn(dir_, "original/a.jpg");
    EXPECT_EQ(test::ReadBytes(kept), kInput);
    EXPECT_TRUE(test::SameTime(test::ModificationTime(kept), test::OldTime()));
    EXPECT_EQ(test::ReadBytes(input_), kOutput);
    EXPECT_TRUE(test::SameTime(test::ModificationTime(input_), test::OldTime()));
}

TEST_F(SaveResultTest, OverwriteKeepsPermissionBits) {
    ASSERT_EQ(Save(smOverwrite), TSaveOutcome::Saved);
    EXPECT_EQ(test::ReadBytes(input_), kOutput);
    struct stat info {};
    ASSERT_EQ(::stat(input_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_TRUE(test::SameTime(info.st_mtim, test::OldTime()));
    ExpectNoTemporaryFiles(dir_.Path());
}

TEST_F(SaveResultTest, OverwriteThroughLinkReplacesTheLinkedFile) {
    const std::string link = test::PathIn(dir_, "link.jpg");
    std::filesystem::create_symlink(input_, link);
    ASSERT_EQ(SaveResult(data_, link, times_, TSaveOptions{smOverwrite, true, true}).Outcome,
              TSaveOutcome::Saved);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(test::ReadBytes(input_), kOutput);
}

TEST_F(SaveResultTest, RecycleBinMovesInputToTrash) {
    TSaveOutcome outcome;
    {
        TTrashInside trash(dir_);
        outcome = Save(smRecycleBin);
    }
    ASSERT_EQ(outcome, TSaveOutcome::Saved);
    EXPECT_EQ(test::ReadBytes(test::PathIn(dir_, "data/Trash/files/a.jpg")), kInput);
    const TBytes info = test::ReadBytes(test::PathIn(dir_, "data/Trash/info/a.jpg.trashinfo"));
    const std::string infoText(info.begin(), info.end());
    EXPECT_NE(infoText.find("[Trash Info]"), std::string::npos);
    EXPECT_NE(infoText.find("Path=" + input_), std::string::npos) << infoText;
    EXPECT_EQ(test::ReadBytes(input_), kOutput);
    struct stat status {};
    ASSERT_EQ(::stat(input_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);  // the replaced file's bits
}

// A kept copy's name already taken: by a copy of the same bytes (replaced,
// nothing is lost), by another file (it stays and the keep step fails), or by
// the copy that a name twin differing only in letter case kept first.
struct TKeptCopyCase {
    const char* Name;
    int Method;
    const char* Taken;  // the file already at the kept copy's name, or a twin saved first
    enum { SameBytes, OtherBytes, TwinSavedFirst } How;
    TSaveOutcome Outcome;
};
void PrintTo(const TKeptCopyCase& c, std::ostream* out) {
    *out << c.Name;
}

class KeptCopyNameTest : public SaveResultTest,
                         public ::testing::WithParamInterface<TKeptCopyCase> {};

TEST_P(KeptCopyNameTest, ADifferentFileOfTheNameIsNeverReplaced) {
    const TKeptCopyCase& c = GetParam();
    const TBytes twin = {0xFF, 0xD8, 't', 'w', 'i', 'n', 0xFF, 0xD9};
    const std::string kept = SavePathsFor(c.Method, input_).KeptCopy;
    TBytes before = c.How == TKeptCopyCase::SameBytes ? kInput : twin;
    if (c.How == TKeptCopyCase::TwinSavedFirst) {
        const std::string other = test::PathIn(dir_, c.Taken);
        test::WriteBytes(other, twin);
        ASSERT_EQ(SaveResult(data_, other, times_, TSaveOptions{c.Method, true, true}).Outcome,
                  TSaveOutcome::Saved);
    } else {
        std::filesystem::create_directories(std::filesystem::path(kept).parent_path());
        test::WriteBytes(kept, before);
    }

    EXPECT_EQ(Save(c.Method), c.Outcome);
    if (c.Outcome == TSaveOutcome::Saved) {
        EXPECT_EQ(test::ReadBytes(kept), kInput);
        EXPECT_EQ(test::ReadBytes(input_), kOutput);
    } else {
        EXPECT_EQ(test::ReadBytes(kept), before);
        ExpectInputUntouched();
    }
    ExpectNoTemporaryFiles(FolderPart(kept));
}

INSTANTIATE_TEST_SUITE_P(
    Methods, KeptCopyNameTest,
    ::testing::Values(TKeptCopyCase{"BakSameBytes", smBackupExtension, "a.bak",
                                    TKeptCopyCase::SameBytes, TSaveOutcome::Saved},
                      TKeptCopyCase{"BakOtherBytes", smBackupExtension, "a.bak",
                                    TKeptCopyCase::OtherBytes, TSaveOutcome::KeptCopyNameTaken},
                      TKeptCopyCase{"BakCaseTwin", smBackupExtension, "a.JPG",
                                    TKeptCopyCase::TwinSavedFirst, TSaveOutcome::KeptCopyNameTaken},
                      TKeptCopyCase{"OriginalSameBytes", smOriginalFolder, "original/a.jpg",
                                    TKeptCopyCase::SameBytes, TSaveOutcome::Saved},
                      TKeptCopyCase{"OriginalOtherBytes", smOriginalFolder, "original/a.jpg",
                                    TKeptCopyCase::OtherBytes, TSaveOutcome::KeptCopyNameTaken},
                      // original/a.JPG and original/a.jpg are two names here.
                      TKeptCopyCase{"OriginalCaseTwin", smOriginalFolder, "a.JPG",
                                    TKeptCopyCase::TwinSavedFirst, TSaveOutcome::Saved}),
    [](const auto& info) { return std::string(info.param.Name); });

// A photo its owner may not write (also when the tests run as the
// superuser): only the trash method replaces it; the methods that write over
// it refuse it, before they keep anything.
class ReadOnlyInputTest : public SaveResultTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReadOnlyInputTest, OnlyTheTrashMethodReplacesIt) {
    const int method = GetParam();
    ::chmod(input_.c_str(), 0444);
    const test::TFakeHome home(dir_.Path().string(), test::PathIn(dir_, "data"));
    const TSavePaths paths = SavePathsFor(method, input_);
    if (method == smResultFolder || method == smRecycleBin) {
        EXPECT_EQ(Save(method), TSaveOutcome::Saved);
        EXPECT_EQ(test::ReadBytes(paths.Output), kOutput);
        if (method == smRecycleBin) {
            EXPECT_EQ(test::ReadBytes(test::PathIn(dir_, "data/Trash/files/a.jpg")), kInput);
        }
        return;
    }
    // Refused before the keep step: nothing is left behind.
    EXPECT_EQ(Save(method), TSaveOutcome::ReadOnlyInput);
    ExpectInputUntouched();
    struct stat status {};
    ASSERT_EQ(::stat(input_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0444u);
    EXPECT_EQ(test::FolderNames(dir_.Path()), (std::vector<std::string>{"a.jpg"}));
}

INSTANTIATE_TEST_SUITE_P(SaveMethods, ReadOnlyInputTest,
                         ::testing::Values(smResultFolder, smRecycleBin, smBackupExtension,
                                           smOverwrite, smOriginalFolder),
                         [](const auto& info) { return "Method" + std::to_string(info.param); });

// The trash on a fresh account, where the data home or the trash in it does
// not exist yet (left alone, Qt's move to the trash then puts the input into
// "files" and "info" below the current folder and reports success).
struct TFreshTrashCase {
    const char* Name;
    const char* DataHome;  // XDG_DATA_HOME below the root, "" to leave it unset
    const char* Trash;     // where the trash must stand afterwards; "" for nowhere
    bool ReadOnlyHome;     // nothing may be made in the home folder
};
void PrintTo(const TFreshTrashCase& c, std::ostream* out) {
    *out << c.Name;
}

class FreshTrashTest : public SaveResultTest,
                       public ::testing::WithParamInterface<TFreshTrashCase> {};

TEST_P(FreshTrashTest, InputEndsInTheAccountsTrashOrStays) {
    const TFreshTrashCase& c = GetParam();
    const std::string home = test::PathIn(dir_, "home");
    const std::string elsewhere = test::PathIn(dir_, "cwd");
    std::filesystem::create_directories(home);
    std::filesystem::create_directories(elsewhere);
    const auto oldFolder = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere);
    TSaveOutcome outcome;
    {
        test::TFakeHome fake(home, *c.DataHome ? test::PathIn(dir_, c.DataHome) : "");
        if (c.ReadOnlyHome) {
            test::OpenToEveryone(dir_.Path());
            ::chmod(home.c_str(), 0555);
            outcome = static_cast<TSaveOutcome>(
                test::RunUnprivileged([&] { return static_cast<int>(Save(smRecycleBin)); }));
            ::chmod(home.c_str(), 0755);
        } else {
            outcome = Save(smRecycleBin);
        }
    }
    std::filesystem::current_path(oldFolder);

    EXPECT_TRUE(test::FolderNames(elsewhere).empty()) << "written into the current folder";
    if (!*c.Trash) {
        EXPECT_EQ(outcome, TSaveOutcome::KeepFailed);
        ExpectInputUntouched();
        EXPECT_TRUE(test::FolderNames(home).empty());
        return;
    }
    ASSERT_EQ(outcome, TSaveOutcome::Saved);
    EXPECT_EQ(test::ReadBytes(input_), kOutput);
    const std::string trash = test::PathIn(dir_, c.Trash);
    EXPECT_EQ(test::ReadBytes(trash + "/files/a.jpg"), kInput);
    const TBytes info = test::ReadBytes(trash + "/info/a.jpg.trashinfo");
    EXPECT_NE(std::string(info.begin(), info.end()).find("Path=" + input_), std::string::npos);
    // Every folder made on the way is the user's alone.
    for (std::filesystem::path folder = trash + "/files"; folder != dir_.Path() && folder != home;
         folder = folder.parent_path()) {
        struct stat status {};
        ASSERT_EQ(::stat(folder.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0700u) << folder;
    }
}

INSTANTIATE_TEST_SUITE_P(Accounts, FreshTrashTest,
                         ::testing::Values(TFreshTrashCase{"HomeWithoutLocalShare", "",
                                                           "home/.local/share/Trash", false},
                                           TFreshTrashCase{"DataHomeMissing", "xdg/data",
                                                           "xdg/data/Trash", false},
                                           TFreshTrashCase{"TrashCannotBeMade", "", "", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// A folder nobody but its owner may write into: the output cannot be
// written there, which ends the save before the photo is kept or touched
// (run unprivileged, since the superuser ignores permission bits).
class ReadOnlyFolderTest : public SaveResultTest, public ::testing::WithParamInterface<int> {
  protected:
    static constexpr int kCreateError = 99;
};

TEST_P(ReadOnlyFolderTest, KeepStepFailsAndInputStays) {
    TTrashInside trash(dir_);
    test::OpenToEveryone(dir_.Path());
    ::chmod(dir_.Path().c_str(), 0555);
    const int result = test::RunUnprivileged([&] {
        try {
            return static_cast<int>(Save(GetParam()));
        } catch (const EStreamError& error) {
            // The cause on the second line.
            return CannotCreateText(input_, EACCES) == error.what() ? kCreateError : 0;
        }
    });
    ::chmod(dir_.Path().c_str(), 0777);
    EXPECT_EQ(result, kCreateError) << "not the create error of the photo";
    ExpectInputUntouched();
    EXPECT_EQ(test::FolderNames(dir_.Path()), (std::vector<std::string>{"a.jpg", "data"}));
}

INSTANTIATE_TEST_SUITE_P(KeepingMethods, ReadOnlyFolderTest,
                         ::testing::Values(smRecycleBin, smBackupExtension, smOriginalFolder),
                         [](const auto& info) { return "Method" + std::to_string(info.param); });

TEST_F(SaveResultTest, FileNamedOriginalMakesKeepStepFail) {
    test::WriteBytes(test::PathIn(dir_, "original"), {1});
    EXPECT_EQ(Save(smOriginalFolder), TSaveOutcome::KeepFailed);
    ExpectInputUntouched();
    EXPECT_EQ(test::ReadBytes(test::PathIn(dir_, "original")), TBytes{1});
}

TEST_F(SaveResultTest, UnwritableOutputThrowsCreateErrorWithPath) {
    test::WriteBytes(test::PathIn(dir_, "result"), {1});  // no folder can be made there
    try {
        Save(smResultFolder);
        FAIL() << "no error";
    } catch (const EStreamError& error) {
        EXPECT_EQ(std::string(error.what()),
                  CannotCreateText(test::PathIn(dir_, "result/a.jpg"), ENOTDIR));
    }
    ExpectInputUntouched();
    ExpectNoTemporaryFiles(dir_.Path());
}

}  // namespace
}  // namespace plume
