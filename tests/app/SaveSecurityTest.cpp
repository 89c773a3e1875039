// Saving where other users can reach: a shared folder that another account
// may write into, links and folders planted there, outputs that are no
// regular file or are the photo itself, temporary files left by killed runs,
// and two runs at once. The photo's owner runs unprivileged; the superuser
// only sets the scene.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "AppTestSupport.h"
#include "app/files/SaveResult.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

namespace fs = std::filesystem;
using test::TBytes;

const TBytes kPhoto = {0xFF, 0xD8, 'p', 'h', 'o', 't', 'o', 0xFF, 0xD9};
const TBytes kTurned = {0xFF, 0xD8, 't', 'u', 'r', 'n', 'e', 'd', 0xFF, 0xD9};
const TBytes kNotes = {'n', 'o', 't', 'e', 's'};

void Own(const std::string& path, uid_t user, mode_t mode) {
    ASSERT_EQ(::lchown(path.c_str(), user, user), 0) << path;
    if (!fs::is_symlink(path)) {
        ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
    }
}

// A shared folder that both accounts may write into, the owner's private
// home beside it, and the owner's photo shared/p.jpg.
class SharedFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs the superuser to play two other accounts";
        ::chmod(dir_.Path().c_str(), 0755);
        fs::create_directories(Path("home/private"));
        fs::create_directories(Path("shared"));
        test::WriteBytes(Path("home/notes.txt"), kNotes);
        test::WriteBytes(Path("home/private/secret.jpg"), kPhoto);
        test::WriteBytes(Path("shared/p.jpg"), kPhoto);
        Own(Path("home"), test::kNobody, 0700);
        Own(Path("home/private"), test::kNobody, 0700);
        Own(Path("home/notes.txt"), test::kNobody, 0600);
        Own(Path("home/private/secret.jpg"), test::kNobody, 0600);
        Own(Path("shared"), test::kNobody, 0777);
        Own(Path("shared/p.jpg"), test::kNobody, 0644);
    }
    std::string Path(const std::string& name) const { return test::PathIn(dir_, name); }
    // What the other account leaves in the shared folder.
    void Plant(const std::string& name, const std::string& linkTarget) {
        fs::create_symlink(linkTarget, Path(name));
        Own(Path(name), test::kOtherUser, 0);
    }
    // The owner's save, unprivileged; the outcome, or -1 when it threw.
    TSaveResult SaveAsOwner(const std::string& name, int method) {
        TSaveResult result;
        const int outcome = test::RunUnprivileged([&] {
            try {
                return static_cast<int>(
                    SaveResult(TMemoryStream(kTurned), Path(name), {}, {method, false, false})
                        .Outcome);
            } catch (const EStreamError&) {
                return 99;
            }
        });
        result.Outcome = static_cast<TSaveOutcome>(outcome);
        return result;
    }

    test::TTempDir dir_;
};

TEST_F(SharedFolderTest, PlantedLinksAndFoldersAreNeverWrittenThrough) {
    struct TCase {
        const char* Name;
        std::function<void()> Scene;
        const char* Photo;
        int Method;
        TSaveOutcome Outcome;
    };
    const TCase cases[] = {
        {"a link planted where the result goes",
         [&] {
             fs::create_directory(Path("shared/result"));
             Own(Path("shared/result"), test::kNobody, 0777);
             Plant("shared/result/p.jpg", Path("home/notes.txt"));
         },
         "shared/p.jpg", smResultFolder, TSaveOutcome::NotRegularFile},
        {"a result folder of the other account",
         [&] {
             fs::create_directory(Path("shared/result"));
             Own(Path("shared/result"), test::kOtherUser, 0777);
         },
         "shared/p.jpg", smResultFolder, TSaveOutcome::UntrustedFolder},
        {"an original folder that is a link", [&] { Plant("shared/original", Path("home")); },
         "shared/p.jpg", smOriginalFolder, TSaveOutcome::UntrustedFolder},
        {"a link planted at the .bak name", [&] { Plant("shared/p.bak", Path("home/notes.txt")); },
         "shared/p.jpg", smBackupExtension, TSaveOutcome::NotRegularFile},
        {"a planted photo that links to a private one, overwritten",
         [&] { Plant("shared/holiday.jpg", Path("home/private/secret.jpg")); },
         "shared/holiday.jpg", smOverwrite, TSaveOutcome::UntrustedLink},
        {"a planted photo that links to a private one, into the trash",
         [&] { Plant("shared/holiday.jpg", Path("home/private/secret.jpg")); },
         "shared/holiday.jpg", smRecycleBin, TSaveOutcome::UntrustedLink},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        fs::remove_all(Path("shared/result"));
        fs::remove_all(Path("shared/original"));
        for (const char* name : {"shared/p.bak", "shared/holiday.jpg"}) fs::remove(Path(name));
        c.Scene();
        const test::TFakeHome home(Path("home"), "");
        EXPECT_EQ(SaveAsOwner(c.Photo, c.Method).Outcome, c.Outcome);
        EXPECT_EQ(test::ReadBytes(Path("shared/p.jpg")), kPhoto);
        EXPECT_EQ(test::ReadBytes(Path("home/notes.txt")), kNotes);
        EXPECT_EQ(test::ReadBytes(Path("home/private/secret.jpg")), kPhoto);
        EXPECT_FALSE(fs::exists(Path("home/.local/share/Trash/files/secret.jpg")));
    }
}

TEST_F(SharedFolderTest, APrivatePhotoStaysPrivateThroughAPlantedLink) {
    Plant("shared/holiday.jpg", Path("home/private/secret.jpg"));
    ASSERT_EQ(SaveAsOwner("shared/holiday.jpg", smResultFolder).Outcome, TSaveOutcome::Saved);
    struct stat info {};
    ASSERT_EQ(::stat(Path("shared/result/holiday.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << "the copy of a private photo is readable by others";
    EXPECT_EQ(info.st_uid, test::kNobody);
    EXPECT_EQ(test::RunAsUser(
                  test::kOtherUser,
                  [&] { return ::open(Path("shared/result/holiday.jpg").c_str(), O_RDONLY) >= 0; }),
              0);
}

// The console's -o names its output itself: still only a regular file or
// nothing is replaced, and never the photo.
TEST(OutputFile, OnlyARegularFileOtherThanThePhotoIsReplaced) {
    test::TTempDir dir;
    const std::string photo = test::PathIn(dir, "p.jpg");
    test::WriteBytes(photo, kPhoto);
    const TFileIdentity input = *IdentityOf(photo);
    ASSERT_EQ(::mkfifo(test::PathIn(dir, "fifo").c_str(), 0644), 0);
    fs::create_hard_link(photo, test::PathIn(dir, "twin.jpg"));
    const bool device = ::mknod(test::PathIn(dir, "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) ==
                        0;  // the superuser's /dev/null
    struct TCase {
        const char* Target;
        TSaveOutcome Outcome;
    } const cases[] = {
        {"fifo", TSaveOutcome::NotRegularFile},    {"null", TSaveOutcome::NotRegularFile},
        {".", TSaveOutcome::NotRegularFile},       {"p.jpg", TSaveOutcome::OutputIsInput},
        {"twin.jpg", TSaveOutcome::OutputIsInput}, {"new.jpg", TSaveOutcome::Saved},
    };
    for (const TCase& c : cases) {
        if (std::string(c.Target) == "null" && !device) continue;
        SCOPED_TRACE(c.Target);
        const std::string target = test::PathIn(dir, c.Target);
        EXPECT_EQ(WriteOutputFile(TMemoryStream(kTurned), target, {}, {}, input).Outcome,
                  c.Outcome);
    }
    EXPECT_EQ(test::ReadBytes(photo), kPhoto);
    EXPECT_TRUE(fs::is_fifo(test::PathIn(dir, "fifo")));
    if (device) {
        EXPECT_TRUE(fs::is_character_file(test::PathIn(dir, "null")));
    }
    EXPECT_EQ(test::ReadBytes(test::PathIn(dir, "new.jpg")), kTurned);
    EXPECT_EQ(fs::status(test::PathIn(dir, "new.jpg")).permissions(),
              fs::status(photo).permissions());
}

// What killed runs leave behind goes with the next save into the folder,
// but only files of plume's own naming, of this user, that no process holds.
TEST(Leftovers, TheNextSaveRemovesOnlyStaleTemporaryFilesOfItsOwn) {
    test::TTempDir dir;
    const auto path = [&](const std::string& name) { return test::PathIn(dir, name); };
    const std::string stale = ".plume-0123456789abcdef.tmp";
    const std::string held = ".plume-00000000000000ff.tmp";
    const std::string foreign = ".plume-fedcba9876543210.tmp";
    const std::string lookalike = ".plume-draft.tmp";
    for (const std::string& name : {stale, held, foreign, lookalike})
        test::WriteBytes(path(name), {1, 2, 3});
    const bool chowned = ::chown(path(foreign).c_str(), test::kOtherUser, test::kOtherUser) == 0;
    const int holder = ::open(path(held).c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    test::WriteBytes(path("p.jpg"), kPhoto);

    ASSERT_EQ(
        SaveResult(TMemoryStream(kTurned), path("p.jpg"), {}, {smOverwrite, false, false}).Outcome,
        TSaveOutcome::Saved);
    std::vector<std::string> expected = {held, lookalike, "p.jpg"};
    if (chowned) expected.insert(expected.begin() + 1, foreign);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::FolderNames(dir.Path()), expected);
    ::close(holder);
}

// Two runs that turn the same photo into the trash at once: the photo is
// turned, and whatever the trash holds is the photo as it was, never a
// turned copy (each run links into the trash the very file it checked).
TEST(ConcurrentRuns, TheTrashNeverReceivesATurnedCopy) {
    for (int round = 0; round < 20; ++round) {
        test::TTempDir dir;
        const test::TFakeHome home(dir.Path().string(), test::PathIn(dir, "data"));
        const std::string photo = test::PathIn(dir, "p.jpg");
        test::WriteBytes(photo, kPhoto);
        // Both runs loaded the photo as it was, before either saves.
        const std::optional<TFileIdentity> loaded = IdentityOf(photo);
        std::fflush(nullptr);
        pid_t runs[2];
        for (pid_t& run : runs) {
            run = ::fork();
            if (run == 0) {
                const TSaveResult saved = SaveResult(TMemoryStream(kTurned), photo, {},
                                                     {smRecycleBin, false, false}, loaded);
                ::_exit(static_cast<int>(saved.Outcome));
            }
        }
        for (const pid_t run : runs) ::waitpid(run, nullptr, 0);
        EXPECT_EQ(test::ReadBytes(photo), kTurned);
        const std::string trash = test::PathIn(dir, "data/Trash/files");
        ASSERT_FALSE(test::FolderNames(trash).empty());
        for (const std::string& name : test::FolderNames(trash))
            EXPECT_EQ(test::ReadBytes(trash + "/" + name), kPhoto) << "round " << round;
    }
}

}  // namespace
}  // namespace plume
