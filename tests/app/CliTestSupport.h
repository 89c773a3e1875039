// Running plume-cli as a user runs it, for the console tests: its settings
// store and home inside a temporary folder, its output lines and status.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "AppTestSupport.h"

namespace plume::test {

using Strings = std::vector<std::string>;

// The console program beside this test program in the build tree.
inline std::filesystem::path CliProgram() {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    return self.parent_path().parent_path() / "src/cli/plume-cli";
}

inline std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::string FileText(const std::string& path) {
    const TBytes bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// A file's line names it by its path as listed.
inline std::string OutputLine(const std::string& counter, const std::string& path,
                              const std::string& status) {
    return counter + " " + path + " " + status + "\n";
}

struct TCliRun {
    int Status = -1;
    std::string Out;
    std::string Err;
};

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(CliProgram()))
            GTEST_SKIP() << "plume-cli not built at " << CliProgram();
        std::filesystem::create_directories(PathIn(dir_, "config"));
        std::filesystem::create_directories(PathIn(dir_, "photos"));
    }
    // Runs the program with its settings store and home inside the temporary
    // folder, in its sub-folder cwd when given, after the shell command
    // before when given (a limit, say).
    TCliRun Run(const Strings& args, const std::string& cwd = "",
                const std::string& before = "") const {
        // The texts asserted are those of locale_ (Japanese unless a test
        // says otherwise), whatever the locale the tests run under.
        std::string command =
            "cd " + Quote(PathIn(dir_, cwd)) + " && " + (before.empty() ? "" : before + " && ") +
            "LANGUAGE= LC_ALL=" + Quote(locale_) + " HOME=" + Quote(dir_.Path()) +
            " XDG_CONFIG_HOME=" + Quote(PathIn(dir_, "config")) + " " + Quote(CliProgram());
        for (const std::string& arg : args) {
            command += ' ';
            command += Quote(arg);
        }
        command += " >" + Quote(PathIn(dir_, "out.txt")) + " 2>" + Quote(PathIn(dir_, "err.txt"));
        TCliRun run;
        const int status = std::system(command.c_str());
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.Out = FileText(PathIn(dir_, "out.txt"));
        run.Err = FileText(PathIn(dir_, "err.txt"));
        return run;
    }
    std::string AddPhoto(const std::string& name, int orientation) const {
        const std::string path = PathIn(dir_, ("photos/" + name));
        WriteBytes(path, MakePhoto(64, 48, orientation));
        return path;
    }
    TTempDir dir_;
    std::string locale_ = "ja_JP.UTF-8";
};

}  // namespace plume::test
