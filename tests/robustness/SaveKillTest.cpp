// A save killed at every one of its system calls, for every save method:
// afterwards the photo holds its own bytes or the turned ones, a copy kept
// is whole, the trash holds at most one copy and holds it whenever the photo
// was replaced, and no temporary file was ever readable by another user. The
// next save into the same folders succeeds and leaves nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>

#include "app/files/SaveResult.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

namespace fs = std::filesystem;
using fixtures::ReadFileBytes;
using fixtures::TBytes;
using fixtures::TTempDir;
using fixtures::WriteFileBytes;

TBytes Pattern(std::size_t size, std::uint8_t seed) {
    TBytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    return bytes;
}

// Runs body in a traced child and kills it as it enters its n-th system
// call. atEachCall runs in this process while the child stands at each call
// before that. Returns the number of calls the child entered (the whole
// count when it ended first), or nothing when it cannot be traced here.
std::optional<int> RunKilledAtCall(int n, const std::function<void()>& body,
                                   const std::function<void()>& atEachCall) {
    std::fflush(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) ::_exit(3);
        ::raise(SIGSTOP);
        try {
            body();
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    if (child < 0) return std::nullopt;
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFSTOPPED(status)) {
        ::waitpid(child, &status, 0);
        return std::nullopt;
    }
    ::ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    int calls = 0;
    bool entering = true;
    int pass = 0;  // a signal to hand on to the child
    while (::ptrace(PTRACE_SYSCALL, child, nullptr,
                    reinterpret_cast<void*>(static_cast<long>(pass))) == 0) {
        pass = 0;
        if (::waitpid(child, &status, 0) != child || WIFEXITED(status) || WIFSIGNALED(status))
            return calls;
        if (!WIFSTOPPED(status)) continue;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            pass = WSTOPSIG(status);
            continue;
        }
        if (entering) {
            ++calls;
            if (calls == n) break;
            atEachCall();
        }
        entering = !entering;
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    return calls;
}

// Every file below folder whose name starts with prefix.
std::vector<fs::path> FilesNamed(const fs::path& folder, const std::string& prefix) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    return found;
}

class SaveKillTest : public ::testing::TestWithParam<int> {};

TEST_P(SaveKillTest, AKillAtEveryCallLosesNothingAndExposesNothing) {
    const int method = GetParam();
    // The trash lies inside each test folder; the home goes back after.
    const char* home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "/";
    const TBytes photo = Pattern(48 * 1024, 1);
    const TBytes turned = Pattern(52 * 1024, 2);
    std::optional<int> total;
    for (int n = 1; !total || n <= *total; ++n) {
        TTempDir dir;
        ::setenv("HOME", dir.Path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", (dir.Path() / "data").c_str(), 1);
        const fs::path path = dir.File("p.jpg");
        WriteFileBytes(path, photo);
        ::chmod(path.c_str(), 0600);  // a private photo: nothing of it may show
        const TSavePaths paths = SavePathsFor(method, path.string());
        const auto save = [&] {
            (void)SaveResult(TMemoryStream(turned), path.string(), {}, {method, false, false},
                             IdentityOf(path.string()));
        };
        const std::function<void()> nothingExposed = [&] {
            for (const fs::path& file : FilesNamed(dir.Path(), ".plume-")) {
                struct stat info {};
                if (::lstat(file.c_str(), &info) == 0) {
                    EXPECT_EQ(info.st_mode & 077, 0u) << file << " open to others";
                }
            }
        };
        const std::optional<int> calls = RunKilledAtCall(
            total ? n : 0, save, total ? nothingExposed : [] {});
        if (!calls) GTEST_SKIP() << "cannot trace a child process here";
        if (!total) {
            // The first run goes through: it counts the calls to kill at.
            total = *calls;
            ASSERT_EQ(ReadFileBytes(paths.Output), turned);
            continue;
        }
        SCOPED_TRACE("killed at call " + std::to_string(n) + " of " + std::to_string(*total));
        const TBytes now = ReadFileBytes(path);
        ASSERT_TRUE(now == photo || (now == turned && method != smResultFolder));
        if (fs::exists(paths.Output) && paths.Output != path.string()) {
            EXPECT_EQ(ReadFileBytes(paths.Output), turned);
        }
        if (!paths.KeptCopy.empty() && fs::exists(paths.KeptCopy)) {
            EXPECT_EQ(ReadFileBytes(paths.KeptCopy), photo);
        }
        if (now == turned && !paths.KeptCopy.empty()) {
            EXPECT_TRUE(fs::exists(paths.KeptCopy)) << "replaced before it was kept";
        }
        const fs::path trash = dir.Path() / "data/Trash/files";
        const std::vector<fs::path> trashed =
            fs::exists(trash) ? FilesNamed(trash, "p") : std::vector<fs::path>{};
        EXPECT_LE(trashed.size(), 1u);
        for (const fs::path& copy : trashed) EXPECT_EQ(ReadFileBytes(copy), photo);
        if (method == smRecycleBin && now == turned) {
            EXPECT_EQ(trashed.size(), 1u) << "the photo is neither at its place nor in the trash";
        }
        // The next run in the folder: it saves, and what the kill left goes.
        WriteFileBytes(path, photo);
        EXPECT_EQ(
            SaveResult(TMemoryStream(turned), path.string(), {}, {method, false, false}).Outcome,
            TSaveOutcome::Saved);
        EXPECT_TRUE(FilesNamed(dir.Path(), ".plume-").empty()) << "a temporary file stays";
    }
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", savedHome.c_str(), 1);
}

INSTANTIATE_TEST_SUITE_P(SaveMethods, SaveKillTest,
                         ::testing::Values(smResultFolder, smRecycleBin, smBackupExtension,
                                           smOverwrite, smOriginalFolder),
                         [](const auto& info) { return "Method" + std::to_string(info.param); });

}  // namespace
}  // namespace plume::test
