// Runs with files prepared on worker threads against one-at-a-time runs over
// the same inputs: the recorded view calls, the summaries, the errors and
// the files left behind (bytes and modification times) must be the same.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "AppTestSupport.h"
#include "app/files/SaveResult.h"
#include "app/run/ParallelRun.h"
#include "app/run/RunLoop.h"
#include "app/texts/AppTexts.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/JpegEncoder.h"

namespace plume {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// Everything a run leaves that a user could see, with the run's folder
// written as "<dir>" so that two folders compare.
struct TRunRecord {
    Strings Log;
    Strings Reports;
    std::size_t FileCount = 0;
    std::size_t FailedCount = 0;
    bool Cancelled = false;
    std::string Error;                         // the error that ended the run
    std::map<std::string, std::string> Files;  // relative path -> bytes and mtime
};

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at))
        text.replace(at, from.size(), to), at += to.size();
    return text;
}

std::map<std::string, std::string> FolderContents(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            files[name] = "(folder)";
            continue;
        }
        const test::TBytes bytes = test::ReadBytes(entry.path().string());
        const timespec time = test::ModificationTime(entry.path().string());
        files[name] = std::string(bytes.begin(), bytes.end()) + "@" + std::to_string(time.tv_sec) +
                      "." + std::to_string(time.tv_nsec);
    }
    return files;
}

// One set of inputs and the things done during the run, made afresh for
// every run so that each starts from the same files.
struct TScenario {
    std::function<void(const test::TTempDir&)> MakeFiles;
    Strings List;  // relative to the folder, as given
    int SaveMethod = smResultFolder;
    bool OperateAllFile = false;
    // At every pumping point: the pump's number, the view and the runner.
    std::function<void(int, test::TRecordingView&, TRunner&, const test::TTempDir&)> OnPump;
};

TRunRecord RunScenario(const TScenario& scenario, unsigned jobs) {
    test::TTempDir dir;
    scenario.MakeFiles(dir);
    test::TRecordingView view;
    TRunner runner(view, view);
    runner.Options.Jobs = jobs;
    view.optSaveMethod = scenario.SaveMethod;
    view.optOperateAllFile = scenario.OperateAllFile;
    if (scenario.OnPump) view.OnPump = [&](int pump) { scenario.OnPump(pump, view, runner, dir); };
    Strings paths;
    for (const std::string& name : scenario.List) paths.push_back(test::PathIn(dir, name));

    TRunRecord record;
    try {
        const TRunSummary summary = runner.DoOperation(paths);
        record.FileCount = summary.FileCount;
        record.FailedCount = summary.FailedCount;
        record.Cancelled = summary.Cancelled;
    } catch (const std::exception& error) {
        record.Error = error.what();
    }
    const std::string root = dir.Path().string();
    record.Error = Replaced(record.Error, root, "<dir>");
    for (const std::string& line : view.Log) record.Log.push_back(Replaced(line, root, "<dir>"));
    for (const TFileReport& report : view.Reports)
        record.Reports.push_back(
            std::to_string(report.Index) + " " + Replaced(report.Path, root, "<dir>") + " " +
            std::to_string(static_cast<int>(report.Outcome)) + (report.Failed ? " failed" : ""));
    record.Files = FolderContents(dir.Path());
    return record;
}

void ExpectSameRun(const TRunRecord& sequential, const TRunRecord& parallel) {
    EXPECT_EQ(parallel.Log, sequential.Log);
    EXPECT_EQ(parallel.Reports, sequential.Reports);
    EXPECT_EQ(parallel.FileCount, sequential.FileCount);
    EXPECT_EQ(parallel.FailedCount, sequential.FailedCount);
    EXPECT_EQ(parallel.Cancelled, sequential.Cancelled);
    EXPECT_EQ(parallel.Error, sequential.Error);
    EXPECT_EQ(parallel.Files.size(), sequential.Files.size());
    for (const auto& [name, contents] : sequential.Files) {
        const auto found = parallel.Files.find(name);
        if (found == parallel.Files.end())
            ADD_FAILURE() << name << " missing after the parallel run";
        else
            EXPECT_TRUE(found->second == contents) << name << " differs";
    }
}

// The parallel runs compared with the one-at-a-time run; the latter returned.
TRunRecord ExpectSameAsSequential(const TScenario& scenario,
                                  std::initializer_list<unsigned> jobs = {2, 4}) {
    const TRunRecord sequential = RunScenario(scenario, 1);
    for (unsigned count : jobs) {
        SCOPED_TRACE("jobs " + std::to_string(count));
        ExpectSameRun(sequential, RunScenario(scenario, count));
    }
    return sequential;
}

// Photos big enough that the engine takes a moment and reports progress
// over several rows, so the workers really run ahead of the loop.
void AddPhoto(const test::TTempDir& dir, const std::string& name, int orientation, int width = 320,
              int height = 240, bool progressive = false) {
    const std::string path = test::PathIn(dir, name);
    fs::create_directories(fs::path(path).parent_path());
    test::WriteBytes(path, test::MakePhoto(width, height, orientation, progressive));
    test::SetModificationTime(path, test::OldTime());
}

// A camera's photo: EXIF with IFD0, an Exif IFD and a JPEG thumbnail, which
// the analysis hands to the preview and the engine turns with the photo.
void AddCameraPhoto(const test::TTempDir& dir, const std::string& name, int orientation) {
    fixtures::TEncodeOptions photo;
    photo.Size(320, 240).Sampling(fixtures::TSampling::k420);
    photo.writeJfif = false;
    fixtures::TEncodeOptions thumbnail = photo;
    thumbnail.Size(80, 64);
    thumbnail.seed = 7;
    fixtures::TExifOptions exif;
    exif.ifd0 = fixtures::TypicalIfd0(orientation);
    exif.exifIfd = fixtures::TypicalExifIfd(320, 240);
    exif.ifd1 = fixtures::JpegThumbnailIfd1(80, 64);
    exif.thumbnail = fixtures::EncodeJpeg(thumbnail);
    const std::string path = test::PathIn(dir, name);
    test::WriteBytes(path, fixtures::InsertSegmentAfterSoi(fixtures::EncodeJpeg(photo),
                                                           fixtures::BuildExif(exif).Segment()));
    test::SetModificationTime(path, test::OldTime());
}

// Upright, turned each way, without EXIF, with a partial MCU (a warning),
// refused by the engine, not a JPEG at all; and files listed twice.
void MakeMixedFolder(const test::TTempDir& dir) {
    AddPhoto(dir, "up.jpg", 1);
    AddPhoto(dir, "right.jpg", 6);
    AddPhoto(dir, "left.jpg", 8);
    AddPhoto(dir, "half.jpg", 3);
    AddPhoto(dir, "plain.jpg", 0);
    AddPhoto(dir, "partial.jpg", 6, 330, 250);
    AddPhoto(dir, "progressive.jpg", 6, 320, 240, true);
    AddPhoto(dir, "sub/deep.jpg", 8);
    AddCameraPhoto(dir, "camera.jpg", 6);
    AddCameraPhoto(dir, "camera-up.jpg", 1);
    test::WriteBytes(test::PathIn(dir, "text.jpg"), {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    test::SetModificationTime(test::PathIn(dir, "text.jpg"), test::OldTime());
}

const Strings kMixedList{"up.jpg",     "right.jpg",    "left.jpg",   "half.jpg",
                         "plain.jpg",  "partial.jpg",  "right.jpg",  "progressive.jpg",
                         "text.jpg",   "sub/deep.jpg", "./left.jpg", "sub/../half.jpg",
                         "camera.jpg", "camera-up.jpg"};

class ParallelRunMethodTest : public ::testing::TestWithParam<int> {};

TEST_P(ParallelRunMethodTest, MixedFilesGiveTheSameRun) {
    TScenario scenario;
    scenario.MakeFiles = MakeMixedFolder;
    scenario.List = kMixedList;
    scenario.SaveMethod = GetParam();
    // Ticked while the third file is on screen, before it is read.
    scenario.OnPump = [](int pump, test::TRecordingView& view, TRunner&, const test::TTempDir&) {
        if (pump == 5) view.optOperateAllFile = true;
    };
    const TRunRecord sequential = ExpectSameAsSequential(scenario);
    // The scenario does what it means to: a refusal, a warning, a failure box.
    EXPECT_EQ(sequential.FileCount, scenario.List.size());
    // With a kept copy, the three files listed again find the copy of their
    // real original under the copy's name: that keep step fails, and the
    // original is never replaced by the upright bytes.
    const bool keepsCopy = GetParam() == smBackupExtension || GetParam() == smOriginalFolder;
    EXPECT_EQ(sequential.FailedCount, keepsCopy ? 5u : 2u);
    const Strings& log = sequential.Log;
    EXPECT_EQ(std::count(log.begin(), log.end(), "preview"), 2);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& l) { return l.rfind("warning:", 0) == 0; }),
              1);
}

INSTANTIATE_TEST_SUITE_P(SaveMethods, ParallelRunMethodTest,
                         ::testing::Values(smResultFolder, smBackupExtension, smOverwrite,
                                           smOriginalFolder),
                         [](const auto& info) { return "Method" + std::to_string(info.param); });

TEST(ParallelRun, SameFileTwiceSeesTheFirstSave) {
    TScenario scenario;
    scenario.MakeFiles = [](const test::TTempDir& dir) { AddPhoto(dir, "a.jpg", 8, 640, 480); };
    scenario.List = {"a.jpg", "a.jpg", "./a.jpg"};
    scenario.SaveMethod = smOverwrite;
    const TRunRecord sequential = ExpectSameAsSequential(scenario);
    // Only the first occurrence is turned.
    int turned = 0;
    for (const std::string& line : sequential.Log)
        turned += line == std::string("status:") + kStatusRotateLeft;
    EXPECT_EQ(turned, 1);
}

// A stale result or kept copy from an earlier run, listed after its input
// (a folder search lists "result" and "original"): the run reads what the
// earlier file's saving put there.
TEST(ParallelRun, OutputsListedAfterTheirInputsAreReadAfterTheSave) {
    for (const int method : {smResultFolder, smOriginalFolder}) {
        SCOPED_TRACE("method " + std::to_string(method));
        const std::string folder = method == smResultFolder ? "result/" : "original/";
        TScenario scenario;
        scenario.MakeFiles = [&](const test::TTempDir& dir) {
            AddPhoto(dir, "a.jpg", 6, 640, 480);
            AddPhoto(dir, folder + "a.jpg", 3, 480, 320);
        };
        scenario.List = {"a.jpg", folder + "a.jpg"};
        scenario.SaveMethod = method;
        scenario.OperateAllFile = true;
        ExpectSameAsSequential(scenario);
    }
}

TEST(ParallelRun, MissingPathEndsTheRunAtThatFile) {
    TScenario scenario;
    scenario.MakeFiles = MakeMixedFolder;
    scenario.List = {"right.jpg", "left.jpg", "gone.jpg", "half.jpg", "sub/deep.jpg"};
    const TRunRecord sequential = ExpectSameAsSequential(scenario);
    EXPECT_EQ(sequential.Error, "ファイル <dir>/gone.jpg は開けません");
    EXPECT_EQ(sequential.Files.count("result/half.jpg"), 0u);
}

// A cancel at each pumping point of a five-file run.
class ParallelCancelTest : public ::testing::TestWithParam<int> {};

TEST_P(ParallelCancelTest, CancelEndsTheRunAtTheSameFile) {
    TScenario scenario;
    scenario.MakeFiles = [](const test::TTempDir& dir) {
        for (int i = 1; i <= 5; ++i) AddPhoto(dir, std::to_string(i) + ".jpg", i % 2 ? 6 : 3);
    };
    scenario.List = {"1.jpg", "2.jpg", "3.jpg", "4.jpg", "5.jpg"};
    scenario.SaveMethod = smBackupExtension;
    const int cancelAt = GetParam();
    scenario.OnPump = [cancelAt](int pump, test::TRecordingView&, TRunner& runner,
                                 const test::TTempDir&) {
        if (pump == cancelAt) runner.CancelRun();
    };
    const TRunRecord sequential = ExpectSameAsSequential(scenario);
    EXPECT_TRUE(sequential.Cancelled);
    EXPECT_EQ(sequential.FileCount, static_cast<std::size_t>((cancelAt + 1) / 2));
}

INSTANTIATE_TEST_SUITE_P(PumpingPoints, ParallelCancelTest, ::testing::Range(1, 11));

// The workers stay within jobs + 1 files of the loop: a file removed while
// the loop waits on the first file is missed exactly as one at a time,
// however long the wait.
TEST(ParallelRun, WorkersDoNotRunAheadOfTheWindow) {
    constexpr unsigned kJobs = 2;
    constexpr std::size_t kWindow = TParallelSteps::WindowFor(kJobs);
    TScenario scenario;
    scenario.MakeFiles = [](const test::TTempDir& dir) {
        for (int i = 0; i < 8; ++i) AddPhoto(dir, std::to_string(i) + ".jpg", 6);
    };
    for (int i = 0; i < 8; ++i) scenario.List.push_back(std::to_string(i) + ".jpg");
    scenario.OnPump = [](int pump, test::TRecordingView&, TRunner&, const test::TTempDir& dir) {
        if (pump != 1) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (std::size_t i = kWindow; i < 8; ++i)
            fs::remove(test::PathIn(dir, std::to_string(i) + ".jpg"));
    };
    const TRunRecord sequential = ExpectSameAsSequential(scenario, {kJobs});
    EXPECT_EQ(sequential.Reports.size(), kWindow);
    EXPECT_EQ(sequential.Error, "ファイル <dir>/" + std::to_string(kWindow) + ".jpg は開けません");
}

TEST(ParallelRun, OptionsOfTheLoopAreReadPerFile) {
    TScenario scenario;
    scenario.MakeFiles = [](const test::TTempDir& dir) {
        for (int i = 1; i <= 4; ++i) AddPhoto(dir, std::to_string(i) + ".jpg", i == 2 ? 1 : 6);
    };
    scenario.List = {"1.jpg", "2.jpg", "3.jpg", "4.jpg"};
    scenario.OnPump = [](int pump, test::TRecordingView& view, TRunner&, const test::TTempDir&) {
        if (pump == 2) view.optSaveMethod = smBackupExtension;
        if (pump == 4) view.optOperateAllFile = true;
        if (pump == 5) view.optKeepCreate = false;
        if (pump == 7) view.optSaveMethod = smOriginalFolder;
    };
    const TRunRecord sequential = ExpectSameAsSequential(scenario);
    EXPECT_EQ(sequential.Files.count("1.bak"), 1u);
    EXPECT_EQ(sequential.Files.count("2.bak"), 1u);
    EXPECT_EQ(sequential.Files.count("original/4.jpg"), 1u);
}

TEST(LoadDependencies, PathsThatEarlierSavesMayWrite) {
    test::TTempDir dir;
    AddPhoto(dir, "b.jpg", 1, 16, 16);
    fs::create_symlink(test::PathIn(dir, "b.jpg"), test::PathIn(dir, "link.jpg"));
    const auto in = [&](const std::string& name) { return test::PathIn(dir, name); };
    const Strings files{in("a.jpg"),          in("b.jpg"), in("./a.jpg"),    in("result/b.jpg"),
                        in("A.JPG"),          in("c.jpg"), in("x/../c.jpg"), in("link.jpg"),
                        in("original/c.jpg"), in("d.jpg"), in("sub/a.jpg")};
    EXPECT_EQ(LoadDependencies(files, {}),
              (std::vector<std::size_t>{0, 0, 1, 2, 3, 0, 6, 2, 7, 0, 0}));

    // -o writes one file and never the inputs.
    TRunOptions output;
    output.OutputPath = in("out.jpg");
    EXPECT_EQ(LoadDependencies({in("a.jpg"), in("a.jpg"), in("out.jpg")}, output),
              (std::vector<std::size_t>{0, 0, 2}));
}

TEST(PathIdentity, SameFileSameIdentity) {
    EXPECT_EQ(PathIdentity("/tmp/../tmp/X.jpg"), PathIdentity("/tmp/x.jpg"));
    EXPECT_NE(PathIdentity("/tmp/x.jpg"), PathIdentity("/tmp/y.jpg"));
    EXPECT_EQ(PathIdentity("rel.jpg"), PathIdentity((fs::current_path() / "rel.jpg").string()));
}

}  // namespace
}  // namespace plume
