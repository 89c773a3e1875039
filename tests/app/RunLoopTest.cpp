// The run over real photos in a temporary folder, seen through a recording
// view: texts, pumping points, cancel, errors that end the run or only the
// file, and the options read per file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AppTestSupport.h"
#include "app/files/SaveResult.h"
#include "app/run/RunLoop.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

using test::TBytes;
using Strings = std::vector<std::string>;

class RunLoopTest : public ::testing::Test {
  protected:
    // A photo of 64 x 48 pixels with the given EXIF Orientation (0: no EXIF).
    std::string AddPhoto(const std::string& name, int orientation) {
        const std::string path = test::PathIn(dir_, name);
        test::WriteBytes(path, test::MakePhoto(64, 48, orientation));
        test::SetModificationTime(path, test::OldTime());
        return path;
    }
    std::string Result(const std::string& name) const {
        return test::PathIn(dir_, ("result/" + name));
    }
    bool HasResult(const std::string& name) const { return std::filesystem::exists(Result(name)); }

    test::TTempDir dir_;
    test::TRecordingView view_;
    TRunner runner_{view_, view_};
};

TEST_F(RunLoopTest, OneTurnedFileShowsTheTextsInOrder) {
    const std::string path = AddPhoto("a.jpg", 6);
    const TRunSummary summary = runner_.DoOperation({path});

    EXPECT_EQ(summary.FileCount, 1u);
    EXPECT_EQ(summary.FailedCount, 0u);
    EXPECT_FALSE(summary.Cancelled);
    EXPECT_EQ(view_.Lines("counter:"), Strings{"( 1 / 1 )"});
    EXPECT_EQ(view_.Lines("status:"),
              (Strings{kStatusAnalysing, kStatusRotateRight, kStatusCompleted}));
    EXPECT_EQ(view_.Lines("name:"), (Strings{"a.jpg", ""}));
    EXPECT_EQ(view_.Lines("caption:"), (Strings{kCaptionCancel, kCaptionClose}));
    EXPECT_EQ(view_.Last("position:"), "0");
    EXPECT_EQ(view_.Log.front(), "clear-preview");
    // Both pumping points come before the engine reports progress.
    const auto firstMax =
        std::find_if(view_.Log.begin(), view_.Log.end(),
                     [](const std::string& l) { return l.rfind("max:", 0) == 0; });
    EXPECT_EQ(std::count(view_.Log.begin(), firstMax, "pump"), 2);
    EXPECT_EQ(view_.Pumps, 2);

    const TBytes result = test::ReadBytes(Result("a.jpg"));
    EXPECT_EQ(test::JpegSize(result), (std::pair<int, int>{48, 64}));
    EXPECT_EQ(test::PhotoOrientation(result), 1);
    EXPECT_TRUE(test::SameTime(test::ModificationTime(Result("a.jpg")), test::OldTime()));
    ASSERT_EQ(view_.Reports.size(), 1u);
    EXPECT_EQ(view_.Reports[0].Outcome, TFileOutcome::Saved);
    EXPECT_FALSE(runner_.Running());
    EXPECT_FALSE(runner_.InRun());
}

TEST_F(RunLoopTest, UprightFileIsStoredOnlyWithOperateAllFile) {
    const std::string path = AddPhoto("up.jpg", 1);
    const TBytes input = test::ReadBytes(path);
    runner_.DoOperation({path});
    EXPECT_EQ(view_.Lines("status:")[1], kStatusNothingToDo);
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir_, "result")));
    EXPECT_EQ(view_.Reports.at(0).Outcome, TFileOutcome::NotNeeded);
    EXPECT_TRUE(test::SameTime(test::ModificationTime(path), test::OldTime()));

    view_.optOperateAllFile = true;
    runner_.DoOperation({path});
    EXPECT_EQ(test::ReadBytes(Result("up.jpg")), input);  // the bytes as the analysis left them
    EXPECT_EQ(view_.Reports.at(1).Outcome, TFileOutcome::Saved);
}

TEST_F(RunLoopTest, OptionsAreReadForEveryFile) {
    const std::string first = AddPhoto("1.jpg", 1);
    const std::string second = AddPhoto("2.jpg", 1);
    // Ticked while the first file is on screen: its own store decision comes later.
    view_.OnPump = [this](int pump) {
        if (pump == 1) view_.optOperateAllFile = true;
        if (pump == 2) view_.optSaveMethod = smBackupExtension;
    };
    runner_.DoOperation({first, second});
    EXPECT_TRUE(std::filesystem::exists(test::PathIn(dir_, "1.bak")));
    EXPECT_TRUE(std::filesystem::exists(test::PathIn(dir_, "2.bak")));
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir_, "result")));
}

// Cancel at one pumping point: that file is still finished, the rest untouched.
struct TCancelCase {
    int Pump;            // pumping point of the run (2 per file)
    std::size_t Stored;  // files stored
};
void PrintTo(const TCancelCase& c, std::ostream* out) {
    *out << "pump " << c.Pump;
}

class CancelTest : public RunLoopTest, public ::testing::WithParamInterface<TCancelCase> {};

TEST_P(CancelTest, RunEndsAfterTheFileBeingHandled) {
    Strings paths;
    for (int i = 1; i <= 5; ++i) paths.push_back(AddPhoto(std::to_string(i) + ".jpg", 3));
    view_.OnPump = [this](int pump) {
        if (pump == GetParam().Pump) {
            EXPECT_TRUE(runner_.CancelRun());
            EXPECT_EQ(view_.Last("caption:"), kCaptionClose);  // at once
            EXPECT_FALSE(runner_.CancelRun());                 // a second press would close
        }
    };
    const TRunSummary summary = runner_.DoOperation(paths);
    EXPECT_TRUE(summary.Cancelled);
    EXPECT_EQ(summary.FileCount, GetParam().Stored);
    for (std::size_t i = 1; i <= 5; ++i)
        EXPECT_EQ(HasResult(std::to_string(i) + ".jpg"), i <= GetParam().Stored) << "file " << i;
    EXPECT_EQ(view_.Last("status:"), kStatusInterrupted);
    EXPECT_EQ(view_.Last("name:"), "");
}

INSTANTIATE_TEST_SUITE_P(PumpingPoints, CancelTest,
                         ::testing::Values(TCancelCase{4, 2},   // file 2, mode known
                                           TCancelCase{5, 3},   // file 3, before reading it
                                           TCancelCase{3, 2}),  // file 2, before reading it
                         [](const auto& info) { return "Pump" + std::to_string(info.param.Pump); });

TEST_F(RunLoopTest, CloseRequestDuringRunLetsItGoOn) {
    Strings paths{AddPhoto("1.jpg", 3), AddPhoto("2.jpg", 3)};
    view_.OnPump = [this](int pump) {
        if (pump == 1) runner_.CancelRun();
        if (pump == 2) runner_.CloseQuery();
    };
    const TRunSummary summary = runner_.DoOperation(paths);
    EXPECT_FALSE(summary.Cancelled);
    EXPECT_TRUE(HasResult("2.jpg"));
}

TEST_F(RunLoopTest, MissingPathEndsTheRunWithOpenError) {
    const std::string missing = test::PathIn(dir_, "gone.jpg");
    const Strings paths{AddPhoto("1.jpg", 6), missing, AddPhoto("3.jpg", 6)};
    try {
        runner_.DoOperation(paths);
        FAIL() << "no error";
    } catch (const EStreamError& error) {
        EXPECT_EQ(std::string(error.what()), "ファイル " + missing + " は開けません");
    }
    EXPECT_TRUE(HasResult("1.jpg"));
    EXPECT_FALSE(HasResult("3.jpg"));
    // The texts are those of an interrupted run, and a new run may start.
    EXPECT_EQ(view_.Last("status:"), kStatusInterrupted);
    EXPECT_EQ(view_.Last("name:"), "");
    EXPECT_EQ(view_.Last("caption:"), kCaptionClose);
    EXPECT_FALSE(runner_.InRun());
    EXPECT_EQ(runner_.DoOperation({paths[2]}).FileCount, 1u);
    EXPECT_TRUE(HasResult("3.jpg"));
}

TEST_F(RunLoopTest, SameFileTwiceIsTurnedOnce) {
    const std::string path = AddPhoto("a.jpg", 8);
    view_.optSaveMethod = smOverwrite;
    runner_.DoOperation({path, path});
    EXPECT_EQ(view_.Lines("counter:"), (Strings{"( 1 / 2 )", "( 2 / 2 )"}));
    // The first pass set the orientation to 1, so the second finds nothing to do.
    EXPECT_EQ(view_.Lines("status:")[1], kStatusRotateLeft);
    EXPECT_EQ(view_.Lines("status:")[3], kStatusNothingToDo);
    const TBytes result = test::ReadBytes(path);
    EXPECT_EQ(test::JpegSize(result), (std::pair<int, int>{48, 64}));
    EXPECT_EQ(test::PhotoOrientation(result), 1);
}

TEST_F(RunLoopTest, RefusedAndUnreadableFilesFailButTheRunGoesOn) {
    const std::string refused = test::PathIn(dir_, "progressive.jpg");
    test::WriteBytes(refused, test::MakePhoto(64, 48, 6, true));
    const std::string notJpeg = test::PathIn(dir_, "text.jpg");
    test::WriteBytes(notJpeg, {'h', 'e', 'l', 'l', 'o', '!', '!', '!'});
    view_.optOperateAllFile = true;
    const TRunSummary summary = runner_.DoOperation({refused, notJpeg, AddPhoto("ok.jpg", 6)});

    EXPECT_EQ(summary.FileCount, 3u);
    EXPECT_EQ(summary.FailedCount, 2u);
    const Strings errors = view_.Lines("error:");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].ends_with(std::string("\r") + kCannotProcessLine)) << errors[0];
    EXPECT_EQ(view_.Lines("plain:").size(), 1u);  // the analysis: no SOI
    EXPECT_FALSE(HasResult("progressive.jpg"));
    EXPECT_EQ(view_.Reports.at(0).Outcome, TFileOutcome::Refused);
    EXPECT_TRUE(view_.Reports.at(1).Failed);
    EXPECT_TRUE(HasResult("ok.jpg"));
    EXPECT_FALSE(view_.Reports.at(2).Failed);
    EXPECT_EQ(view_.Last("status:"), kStatusCompleted);
}

TEST_F(RunLoopTest, KeepStepFailureIsReportedAndRunGoesOn) {
    test::WriteBytes(test::PathIn(dir_, "original"), {1});
    const std::string first = AddPhoto("1.jpg", 6);
    const TBytes input = test::ReadBytes(first);
    view_.optSaveMethod = smOriginalFolder;
    const std::string second = AddPhoto("2.jpg", 6);
    const TRunSummary summary = runner_.DoOperation({first, second});
    EXPECT_EQ(view_.Lines("error:"), (Strings{FormatPathText(kKeepStepFailed, first),
                                              FormatPathText(kKeepStepFailed, second)}));
    EXPECT_EQ(test::ReadBytes(first), input);
    EXPECT_EQ(view_.Reports.at(0).Outcome, TFileOutcome::KeepFailed);
    EXPECT_EQ(view_.Reports.at(1).Outcome, TFileOutcome::KeepFailed);
    EXPECT_EQ(summary.FailedCount, 2u);
}

// Another program writes the input while it is on screen, after it was
// loaded: a method that would replace it replaces nothing and keeps no copy
// (the change shows before anything is written), and the result folder's
// output is written as ever.
class InputChangedTest : public RunLoopTest, public ::testing::WithParamInterface<int> {};

TEST_P(InputChangedTest, InputIsNotReplaced) {
    const int method = GetParam();
    const std::string path = AddPhoto("a.jpg", 6);
    TBytes changed = test::ReadBytes(path);
    changed.back() ^= 1;  // same file, same size: only the bytes and the time differ
    view_.optSaveMethod = method;
    view_.OnPump = [&](int pump) {
        if (pump != 2) return;
        std::ofstream(path, std::ios::binary | std::ios::in)
            .write(reinterpret_cast<const char*>(changed.data()),
                   static_cast<std::streamsize>(changed.size()));
        test::SetModificationTime(path, {test::OldTime().tv_sec, test::OldTime().tv_nsec + 1});
    };
    const test::TFakeHome home(dir_.Path().string(), test::PathIn(dir_, "data"));
    const TRunSummary summary = runner_.DoOperation({path});

    EXPECT_EQ(test::ReadBytes(path), changed);
    if (method == smResultFolder) {
        EXPECT_EQ(view_.Reports.at(0).Outcome, TFileOutcome::Saved);
        EXPECT_TRUE(HasResult("a.jpg"));
        return;
    }
    EXPECT_EQ(view_.Lines("error:"), Strings{FormatPathText(kInputChanged, path)});
    EXPECT_EQ(view_.Reports.at(0).Outcome, TFileOutcome::InputChanged);
    EXPECT_EQ(summary.FailedCount, 1u);
    const TSavePaths paths = SavePathsFor(method, path);
    if (!paths.KeptCopy.empty()) {
        EXPECT_FALSE(std::filesystem::exists(paths.KeptCopy));
    }
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir_, "data/Trash/files/a.jpg")));
}

INSTANTIATE_TEST_SUITE_P(SaveMethods, InputChangedTest,
                         ::testing::Values(smResultFolder, smRecycleBin, smBackupExtension,
                                           smOverwrite, smOriginalFolder),
                         [](const auto& info) { return "Method" + std::to_string(info.param); });

TEST_F(RunLoopTest, DropDuringRunIsIgnored) {
    const std::string path = AddPhoto("a.jpg", 3);
    view_.OnPump = [&](int pump) {
        if (pump == 1) {
            EXPECT_EQ(runner_.DoOperation({test::PathIn(dir_, "other.jpg")}).FileCount, 0u);
        }
    };
    EXPECT_EQ(runner_.DoOperation({path}).FileCount, 1u);
    EXPECT_EQ(runner_.FileList(), Strings{path});
}

TEST_F(RunLoopTest, ForcedModeAndOutputPath) {
    const std::string path = AddPhoto("a.jpg", 1);
    runner_.Options.ForcedMode = kModeRotate180;
    runner_.Options.OutputPath = test::PathIn(dir_, "out.jpg");
    runner_.DoOperation({path});
    EXPECT_EQ(view_.Lines("status:")[1], kStatusRotate180);
    EXPECT_EQ(test::JpegSize(test::ReadBytes(test::PathIn(dir_, "out.jpg"))),
              (std::pair<int, int>{64, 48}));
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir_, "result")));
}

TEST(ShowEngineMessage, LevelsPickTheBox) {
    test::TRecordingView view;
    ShowEngineMessage(view, "i", 0);
    ShowEngineMessage(view, "w", 1);
    ShowEngineMessage(view, "e", 2);
    ShowEngineMessage(view, "x", 3);
    EXPECT_EQ(view.Log,
              (Strings{"plain:i", "warning:w", std::string("error:e\r") + kCannotProcessLine}));
}

}  // namespace
}  // namespace plume
