// Saving when the file system fails: a full disk (a small tmpfs where the
// machine lets the test mount one, and a write error injected through the
// file size limit everywhere), a read-only target, a target folder that is
// gone, and a kill between the write and the rename. The input is never
// damaged and no half-written file ever stands under the final name.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "app/files/FileAccess.h"
#include "app/files/SafeWrite.h"
#include "app/files/SaveResult.h"
#include "app/texts/AppTexts.h"
#include "fixtures/Fixtures.h"
#include "fixtures/SmallDisk.h"

namespace plume::test {
namespace {

namespace fs = std::filesystem;
using fixtures::ReadFileBytes;
using fixtures::TBytes;
using fixtures::TSmallDisk;
using fixtures::TTempDir;
using fixtures::WriteFileBytes;

TBytes Pattern(std::size_t size, std::uint8_t seed) {
    TBytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 9));
    return bytes;
}

// Every regular file under folder, relative, sorted.
std::vector<std::string> FilesUnder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) names.push_back(fs::relative(entry.path(), folder).string());
    std::sort(names.begin(), names.end());
    return names;
}

// The create error with the cause that the failure gives (errno).
std::string CannotCreate(const std::string& path, int cause) {
    return CannotCreateText(path, cause);
}

// While it lives, no file of this process may grow past limit bytes: writes
// beyond fail with EFBIG, as on a full disk.
class TFileSizeLimit {
  public:
    explicit TFileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, previous_);
    }
    bool Active() const { return active_; }

  private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
    bool active_ = false;
};

constexpr int kKeepingMethods[] = {smResultFolder, smBackupExtension, smOriginalFolder,
                                   smOverwrite};

// Runs SaveResult with data too large to store and checks that nothing was
// damaged: the input keeps its bytes, no temporary file is left, and the
// output path holds no partial file.
void ExpectFailedSaveDamagesNothing(const fs::path& folder, int method, const TBytes& input,
                                    const TBytes& data, int cause) {
    SCOPED_TRACE("save method " + std::to_string(method));
    const fs::path path = folder / ("photo" + std::to_string(method) + ".jpg");
    WriteFileBytes(path, input);
    const TSavePaths paths = SavePathsFor(method, path.string());
    TMemoryStream stream(data);
    try {
        const TSaveOutcome outcome =
            SaveResult(stream, path.string(), {}, {method, false, false}).Outcome;
        EXPECT_EQ(outcome, TSaveOutcome::KeepFailed)
            << "a save that could not write reported success";
    } catch (const EStreamError& e) {
        EXPECT_EQ(std::string(e.what()), CannotCreate(paths.Output, cause));
    }
    EXPECT_EQ(ReadFileBytes(path), input);
    if (paths.Output != path.string()) {
        EXPECT_FALSE(fs::exists(paths.Output)) << paths.Output;
    }
    // A kept copy, when there is one, is whole.
    if (!paths.KeptCopy.empty() && fs::exists(paths.KeptCopy)) {
        EXPECT_EQ(ReadFileBytes(paths.KeptCopy), input);
    }
    for (const std::string& name : FilesUnder(folder))
        EXPECT_EQ(name.find(".plume-"), std::string::npos) << "temporary file left: " << name;
}

TEST(SaveFaults, AFullDiskLeavesTheTargetAsItWasAndNoTemporaryFile) {
    TSmallDisk disk(64 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const fs::path target = disk.Path() / "photo.jpg";
    const TBytes old = Pattern(20000, 1);
    WriteFileBytes(target, old);
    const TBytes data = Pattern(200000, 2);
    try {
        WriteFileReplacing(target.string(), data, {});
        FAIL() << "a write larger than the disk succeeded";
    } catch (const EStreamError& e) {
        EXPECT_EQ(std::string(e.what()), CannotCreate(target.string(), ENOSPC));
    }
    EXPECT_EQ(ReadFileBytes(target), old);
    EXPECT_EQ(FilesUnder(disk.Path()), std::vector<std::string>{"photo.jpg"});
    // The space is free again: a write that fits succeeds.
    const TBytes fits = Pattern(30000, 3);
    WriteFileReplacing(target.string(), fits, {});
    EXPECT_EQ(ReadFileBytes(target), fits);
}

TEST(SaveFaults, EverySaveMethodOnAFullDiskKeepsTheInput) {
    TSmallDisk disk(256 * 1024);
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    for (int method : kKeepingMethods)
        ExpectFailedSaveDamagesNothing(disk.Path(), method, Pattern(30000, 4), Pattern(400000, 5),
                                       ENOSPC);
}

TEST(SaveFaults, AnInjectedWriteErrorLeavesTheTargetAsItWas) {
    TTempDir dir;
    const fs::path target = dir.File("photo.jpg");
    const TBytes old = Pattern(5000, 6);
    WriteFileBytes(target, old);
    {
        TFileSizeLimit limit(8192);
        ASSERT_TRUE(limit.Active());
        try {
            WriteFileReplacing(target.string(), Pattern(100000, 7), {});
            ADD_FAILURE() << "a write past the file size limit succeeded";
        } catch (const EStreamError& e) {
            EXPECT_EQ(std::string(e.what()), CannotCreate(target.string(), EFBIG));
        }
    }
    EXPECT_EQ(ReadFileBytes(target), old);
    EXPECT_EQ(FilesUnder(dir.Path()), std::vector<std::string>{"photo.jpg"});
}

TEST(SaveFaults, EverySaveMethodWithAnInjectedWriteErrorKeepsTheInput) {
    TTempDir dir;
    for (int method : kKeepingMethods) {
        TFileSizeLimit limit(16384);
        ASSERT_TRUE(limit.Active());
        ExpectFailedSaveDamagesNothing(dir.Path(), method, Pattern(9000, 8), Pattern(50000, 9),
                                       EFBIG);
    }
}

TEST(SaveFaults, AReadOnlyTargetIsNeitherReplacedNorDamaged) {
    TSmallDisk disk(1024 * 1024);
    TTempDir plain;
    fs::path folder;
    if (disk.Mounted()) {
        folder = disk.Path();
    } else if (::geteuid() != 0) {
        folder = plain.Path();
    } else {
        GTEST_SKIP()
            << "running as root without a tmpfs: permissions cannot make a folder read-only";
    }
    const TBytes input = Pattern(12000, 10);
    for (int method : kKeepingMethods)
        WriteFileBytes(folder / ("photo" + std::to_string(method) + ".jpg"), input);
    if (disk.Mounted()) {
        if (!disk.MakeReadOnly()) GTEST_SKIP() << "cannot remount the tmpfs read-only";
    } else {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    for (int method : kKeepingMethods) {
        SCOPED_TRACE("save method " + std::to_string(method));
        const fs::path path = folder / ("photo" + std::to_string(method) + ".jpg");
        TMemoryStream stream(Pattern(3000, 11));
        try {
            EXPECT_EQ(SaveResult(stream, path.string(), {}, {method, false, false}).Outcome,
                      TSaveOutcome::KeepFailed);
        } catch (const EStreamError& e) {
            EXPECT_EQ(std::string(e.what()),
                      CannotCreate(SavePathsFor(method, path.string()).Output,
                                   disk.Mounted() ? EROFS : EACCES));
        }
        EXPECT_EQ(ReadFileBytes(path), input);
    }
    if (!disk.Mounted()) fs::permissions(folder, fs::perms::owner_all);
    EXPECT_EQ(FilesUnder(folder).size(), std::size(kKeepingMethods));
}

TEST(SaveFaults, ATargetFolderThatIsGoneEndsInTheCreateError) {
    TTempDir dir;
    const fs::path folder = dir.File("gone");
    fs::create_directory(folder);
    const fs::path target = folder / "photo.jpg";
    fs::remove_all(folder);
    try {
        WriteFileReplacing(target.string(), Pattern(1000, 12), {});
        FAIL() << "a write into a removed folder succeeded";
    } catch (const EStreamError& e) {
        EXPECT_EQ(std::string(e.what()), CannotCreate(target.string(), ENOENT));
    }
    EXPECT_TRUE(FilesUnder(dir.Path()).empty());
}

// The child writes a large file over the target and is killed after a
// given time. Returns what the target then holds.
TBytes KillDuringReplace(const fs::path& target, const TBytes& data, int delayMicroseconds) {
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            WriteFileReplacing(target.string(), data, {});
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    if (child < 0) return {};
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicroseconds));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    return ReadFileBytes(target);
}

#if defined(__x86_64__)
// Runs WriteFileReplacing in a traced child and kills the child when it is
// about to rename: the write is done and flushed, the rename not made.
// Returns false when the child cannot be traced here.
bool KillAtRename(const fs::path& target, const TBytes& data, bool& killedAtRename) {
    killedAtRename = false;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(3);
        ::raise(SIGSTOP);
        try {
            WriteFileReplacing(target.string(), data, {});
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    if (child < 0) return false;
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
        ::waitpid(child, &status, 0);
        return false;
    }
    ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    int pass = 0;  // a signal to hand on to the child
    for (;;) {
        if (::ptrace(PTRACE_SYSCALL, child, nullptr,
                     reinterpret_cast<void*>(static_cast<long>(pass))) != 0)
            break;
        pass = 0;
        if (::waitpid(child, &status, 0) != child || WIFEXITED(status) || WIFSIGNALED(status))
            return true;
        if (!WIFSTOPPED(status)) continue;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            pass = WSTOPSIG(status);
            continue;
        }
        user_regs_struct registers{};
        ::ptrace(PTRACE_GETREGS, child, nullptr, &registers);
        const long call = static_cast<long>(registers.orig_rax);
        if (call == SYS_rename || call == SYS_renameat || call == SYS_renameat2) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            killedAtRename = true;
            return true;
        }
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return true;
}
#endif

TEST(SaveFaults, AKillBetweenWriteAndRenameLeavesTheOldFileWhole) {
#if defined(__x86_64__)
    TTempDir dir;
    const fs::path target = dir.File("photo.jpg");
    const TBytes old = Pattern(4096, 13);
    const TBytes data = Pattern(1024 * 1024, 14);
    WriteFileBytes(target, old);
    bool killedAtRename = false;
    if (!KillAtRename(target, data, killedAtRename))
        GTEST_SKIP() << "cannot trace a child process here";
    ASSERT_TRUE(killedAtRename) << "the write never reached its rename";
    EXPECT_EQ(ReadFileBytes(target), old);
    // What the killed write leaves is a hidden temporary file with all of the
    // new bytes, never anything under the final name.
    std::vector<std::string> leftovers;
    for (const std::string& name : FilesUnder(dir.Path()))
        if (name != "photo.jpg") leftovers.push_back(name);
    ASSERT_EQ(leftovers.size(), 1u);
    EXPECT_EQ(leftovers[0].rfind(".plume-", 0), 0u) << leftovers[0];
    EXPECT_EQ(ReadFileBytes(dir.Path() / leftovers[0]), data);
#else
    GTEST_SKIP() << "the system call trace is written for x86-64";
#endif
}

TEST(SaveFaults, AKillAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
    TTempDir dir;
    const fs::path target = dir.File("photo.jpg");
    const TBytes old = Pattern(4096, 15);
    const TBytes data = Pattern(8 * 1024 * 1024, 16);
    for (int delay : {0, 200, 1000, 3000, 10000, 30000, 100000}) {
        WriteFileBytes(target, old);
        const TBytes after = KillDuringReplace(target, data, delay);
        EXPECT_TRUE(after == old || after == data)
            << "killed after " << delay << " us: a partial file";
    }
}

}  // namespace
}  // namespace plume::test
