// plume-cli as a user runs it: output lines, exit status, options and the
// stored settings as defaults.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "app/AppTexts.h"

namespace plume {
namespace {

using Strings = std::vector<std::string>;

// The console program beside this test program in the build tree.
std::filesystem::path CliProgram() {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    return self.parent_path().parent_path() / "src/main/plume-cli";
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string FileText(const std::string& path) {
    const test::TBytes bytes = test::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string OutputLine(const std::string& counter, const std::string& name,
                       const std::string& status) {
    return counter + " " + name + " " + status + "\n";
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
        std::filesystem::create_directories(test::PathIn(dir_, "config"));
        std::filesystem::create_directories(test::PathIn(dir_, "photos"));
    }
    // Runs the program with its settings store and home inside the temporary folder.
    TCliRun Run(const Strings& args) const {
        std::string command = "cd " + Quote(dir_.Path()) + " && HOME=" + Quote(dir_.Path()) +
                              " XDG_CONFIG_HOME=" + Quote(test::PathIn(dir_, "config")) + " " +
                              Quote(CliProgram());
        for (const std::string& arg : args) {
            command += ' ';
            command += Quote(arg);
        }
        command += " >out.txt 2>err.txt";
        TCliRun run;
        const int status = std::system(command.c_str());
        run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.Out = FileText(test::PathIn(dir_, "out.txt"));
        run.Err = FileText(test::PathIn(dir_, "err.txt"));
        return run;
    }
    std::string AddPhoto(const std::string& name, int orientation) const {
        const std::string path = test::PathIn(dir_, ("photos/" + name));
        test::WriteBytes(path, test::MakePhoto(64, 48, orientation));
        return path;
    }
    test::TTempDir dir_;
};

TEST_F(CliTest, VersionHelpAndBadUsage) {
    EXPECT_EQ(Run({"--version"}).Out, std::string(kVersionText) + "\n");
    const TCliRun help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("--save-method"), std::string::npos);
    for (const Strings& bad :
         {Strings{}, Strings{"--frobnicate", "x.jpg"}, Strings{"--save-method", "bin", "x.jpg"},
          Strings{"--mode", "6", "x.jpg"}, Strings{"--mode"}, Strings{"--all=1", "x.jpg"},
          Strings{"-o", "out.jpg", "a.jpg", "b.jpg"}})
        EXPECT_EQ(Run(bad).Status, 2) << (bad.empty() ? "(nothing)" : bad[0]);
}

TEST_F(CliTest, FolderRunPrintsOneLinePerFile) {
    AddPhoto("a.jpg", 6);
    AddPhoto("b.jpg", 1);
    const TCliRun run = Run({"photos"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, OutputLine("( 1 / 2 )", "a.jpg", kStatusRotateRight) +
                           OutputLine("( 2 / 2 )", "b.jpg", kStatusNothingToDo));
    EXPECT_NE(run.Err.find(kStatusCompleted), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(test::PathIn(dir_, "photos/result/a.jpg")));
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir_, "photos/result/b.jpg")));

    // --all stores the upright one too.
    EXPECT_EQ(Run({"--all", "photos/b.jpg"}).Status, 0);
    EXPECT_TRUE(std::filesystem::exists(test::PathIn(dir_, "photos/result/b.jpg")));
}

TEST_F(CliTest, FailuresGiveStatusOne) {
    test::WriteBytes(test::PathIn(dir_, "photos/p.jpg"), test::MakePhoto(64, 48, 6, true));
    const TCliRun refused = Run({"photos/p.jpg"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find(std::string(kCaptionError) + ": "), std::string::npos);
    EXPECT_NE(refused.Err.find(kCannotProcessLine), std::string::npos);

    const TCliRun missing = Run({"photos/none.jpg"});
    EXPECT_EQ(missing.Status, 1);
    EXPECT_NE(missing.Err.find(FormatPathText(kFileCannotOpen, "photos/none.jpg")),
              std::string::npos);

    EXPECT_EQ(Run({"photos/notes.txt"}).Status, 1);  // nothing to handle
}

TEST_F(CliTest, OutputFileAndForcedMode) {
    const std::string upright = AddPhoto("u.jpg", 1);
    // No turn needed and no --mode: nothing is written.
    EXPECT_EQ(Run({"-o", "out.jpg", upright}).Status, 0);
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir_, "out.jpg")));
    EXPECT_EQ(Run({"--mode", "1", "-o", "out.jpg", upright}).Status, 0);
    EXPECT_EQ(test::JpegSize(test::ReadBytes(test::PathIn(dir_, "out.jpg"))),
              (std::pair<int, int>{48, 64}));
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir_, "photos/result")));
}

TEST_F(CliTest, StoredSettingsAreDefaultsAndOptionsWin) {
    std::filesystem::create_directories(test::PathIn(dir_, "config/Tidecrest"));
    std::ofstream(test::PathIn(dir_, "config/Tidecrest/plume_auto.conf"))
        << "[General]\ngSaveMethod=2\n";
    const std::string path = AddPhoto("a.jpg", 3);
    EXPECT_EQ(Run({path}).Status, 0);
    EXPECT_TRUE(
        std::filesystem::exists(test::PathIn(dir_, "photos/a.bak")));  // stored method: .bak

    AddPhoto("b.jpg", 3);
    EXPECT_EQ(Run({"--save-method", "original", "photos/b.jpg"}).Status, 0);
    EXPECT_TRUE(std::filesystem::exists(test::PathIn(dir_, "photos/original/b.jpg")));
    // The console never writes the store.
    EXPECT_EQ(FileText(test::PathIn(dir_, "config/Tidecrest/plume_auto.conf")),
              "[General]\ngSaveMethod=2\n");
}

}  // namespace
}  // namespace plume
