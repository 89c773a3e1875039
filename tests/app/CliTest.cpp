// plume-cli as a user runs it: output lines, exit status, options and the
// stored settings as defaults.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "AppTestSupport.h"
#include "BitStreamFile/MemoryStream.h"
#include "CliTestSupport.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"
#include "app/run/RunLoop.h"
#include "app/texts/AppTexts.h"
#include "fixtures/Fixtures.h"

namespace plume {
namespace {

using test::CliProgram;
using test::CliTest;
using test::FileText;
using test::OutputLine;
using test::Quote;
using test::TCliRun;
using Strings = std::vector<std::string>;

TEST_F(CliTest, VersionHelpAndBadUsage) {
    EXPECT_EQ(Run({"--version"}).Out, std::string(kVersionText) + "\n");
    const TCliRun help = Run({"--help"});
    EXPECT_EQ(help.Status, 0);
    for (const char* option : {"--save-method", "--stop-on-error", "--dry-run"})
        EXPECT_NE(help.Out.find(option), std::string::npos) << option;
    for (const Strings& bad :
         {Strings{}, Strings{"--frobnicate", "x.jpg"}, Strings{"--save-method", "bin", "x.jpg"},
          Strings{"--mode", "8", "x.jpg"}, Strings{"--mode"}, Strings{"--all=1", "x.jpg"},
          Strings{"--edges", "crop", "x.jpg"}, Strings{"--mirrored=1", "x.jpg"},
          Strings{"-o", "out.jpg", "a.jpg", "b.jpg"}, Strings{"--dry-run=yes", "x.jpg"}})
        EXPECT_EQ(Run(bad).Status, 2) << (bad.empty() ? "(nothing)" : bad[0]);
}

TEST_F(CliTest, FolderRunPrintsOneLinePerFile) {
    AddPhoto("a.jpg", 6);
    AddPhoto("b.jpg", 1);
    const TCliRun run = Run({"photos"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, OutputLine("( 1 / 2 )", "photos/a.jpg", kStatusRotateRight) +
                           OutputLine("( 2 / 2 )", "photos/b.jpg", kStatusNothingToDo));
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

    const TCliRun skipped = Run({"photos/notes.txt"});
    EXPECT_EQ(skipped.Status, 1);  // nothing to handle, and why
    EXPECT_EQ(skipped.Err,
              FormatPathText(kSkippedNotJpeg, "photos/notes.txt") + "\n" + kNoJpegFiles + "\n");
}

// A segment between SOI and the EXIF one (a JFIF, an ICC profile, XMP, a
// comment, as cameras, phones and editors write them): the orientation is
// read all the same. With --no-exif-anywhere it is not, as the window's
// unticked box has it, and the console says that --exif-anywhere reads it.
TEST_F(CliTest, ExifAfterOtherSegmentsIsReadUnlessAskedNotTo) {
    const auto segment = [](std::uint8_t marker, const std::string& body) {
        const std::size_t length = body.size() + 2;
        std::string bytes = {'\xFF', static_cast<char>(marker), static_cast<char>(length >> 8),
                             static_cast<char>(length & 0xFF)};
        bytes += body;
        return test::TBytes(bytes.begin(), bytes.end());
    };
    const std::pair<const char*, test::TBytes> before[] = {
        {"jfif.jpg", segment(0xE0, std::string("JFIF\0\1\1\0\0\1\0\1\0\0", 14))},
        {"icc.jpg", segment(0xE2, std::string("ICC_PROFILE\0\1\1profile", 21))},
        {"xmp.jpg", segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0<x/>", 33))},
        {"comment.jpg", segment(0xFE, "hi")},
    };
    Strings expected;
    for (const auto& [name, bytes] : before) {
        test::WriteBytes(test::PathIn(dir_, std::string("photos/") + name),
                         fixtures::InsertBytes(test::MakePhoto(64, 48, 6), 2, bytes));
        expected.push_back(name);
    }
    test::WriteBytes(test::PathIn(dir_, "photos/up.jpg"),
                     fixtures::InsertBytes(test::MakePhoto(64, 48, 1), 2, before[0].second));
    const TCliRun run = Run({"photos"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    for (const std::string& name : expected) {
        EXPECT_EQ(test::JpegSize(test::ReadBytes(test::PathIn(dir_, "photos/result/" + name))),
                  (std::pair<int, int>{48, 64}))
            << name;
    }

    const TCliRun strict = Run({"--no-exif-anywhere", "photos/comment.jpg", "photos/up.jpg"});
    EXPECT_EQ(strict.Status, 0) << strict.Err;
    EXPECT_EQ(strict.Out, OutputLine("( 1 / 2 )", "photos/comment.jpg", kStatusNothingToDo) +
                              OutputLine("( 2 / 2 )", "photos/up.jpg", kStatusNothingToDo));
    EXPECT_NE(strict.Err.find("( 1 / 2 ) photos/comment.jpg: " + std::string(kNoteExifAnywhere)),
              std::string::npos)
        << strict.Err;
    EXPECT_EQ(strict.Err.find("photos/up.jpg"), std::string::npos) << strict.Err;
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

// A mirrored photo made from an upright one by jpegtran (each mirror is its
// own inverse) comes back to exactly the upright blocks with --mirrored, and
// is left alone without it.
TEST_F(CliTest, MirroredOrientationsGiveBackTheUprightBlocksOnlyWhenAsked) {
    PLUME_REQUIRE_JPEGTRAN();
    const test::TBytes upright = test::MakePhoto(64, 48, 0);
    const std::pair<int, std::uint8_t> cases[] = {{2, kModeFlipHorizontal},
                                                  {4, kModeFlipVertical},
                                                  {5, kModeTranspose},
                                                  {7, kModeTransverse}};
    for (const auto& [orientation, mode] : cases) {
        SCOPED_TRACE(orientation);
        const std::string listed = "photos/m" + std::to_string(orientation) + ".jpg";
        const std::string path = test::PathIn(dir_, listed);
        const std::string result =
            test::PathIn(dir_, "photos/result/m" + std::to_string(orientation) + ".jpg");
        const test::TBytes stored = test::WithOrientation(
            fixtures::RunJpegtran(fixtures::JpegtranModeArgs(mode), upright), orientation);
        test::WriteBytes(path, stored);

        const TCliRun off = Run({listed});
        EXPECT_EQ(off.Out, OutputLine("( 1 / 1 )", listed, kStatusNothingToDo));
        EXPECT_FALSE(std::filesystem::exists(result));

        const TCliRun on = Run({"--mirrored", listed});
        EXPECT_EQ(on.Status, 0) << on.Err;
        EXPECT_EQ(on.Out, OutputLine("( 1 / 1 )", listed, StatusTextForMode(mode)));
        ASSERT_TRUE(std::filesystem::exists(result));
        const test::TBytes turned = test::ReadBytes(result);
        EXPECT_EQ(test::PhotoOrientation(turned), 1);
        fixtures::ExpectSameCoefficients(fixtures::ReadCoefficients(turned),
                                         fixtures::ReadCoefficients(upright));
        EXPECT_EQ(test::ReadBytes(path), stored);
    }
}

// Orientation 6 turns the bottom edge to the left: 43 rows are no whole
// number of 16-row MCUs, so it carries a partial edge there; 61 columns turn
// to the bottom, where nothing shows.
TEST_F(CliTest, EdgeChoicesMoveTrimOrSkipOnlyAnEdgeThatComesToTheTopOrLeft) {
    PLUME_REQUIRE_JPEGTRAN();
    const test::TBytes moves = test::MakePhoto(64, 43, 6);
    const test::TBytes stays = test::MakePhoto(61, 48, 6);
    test::WriteBytes(test::PathIn(dir_, "photos/moves.jpg"), moves);
    test::WriteBytes(test::PathIn(dir_, "photos/stays.jpg"), stays);
    const auto result = [&](const std::string& name) {
        return test::PathIn(dir_, "photos/result/" + name);
    };
    std::map<std::string, TCliRun> runs;
    std::map<std::string, test::TBytes> moved, stayed;
    for (const std::string edges : {"move", "trim", "skip"}) {
        std::filesystem::remove_all(test::PathIn(dir_, "photos/result"));
        runs[edges] = Run({"--edges", edges, "photos"});
        EXPECT_EQ(runs[edges].Status, 0) << edges << runs[edges].Err;
        if (std::filesystem::exists(result("moves.jpg")))
            moved[edges] = test::ReadBytes(result("moves.jpg"));
        stayed[edges] = test::ReadBytes(result("stays.jpg"));
    }
    // The engine's warning tells what move does; the others say otherwise.
    EXPECT_NE(runs["move"].Err.find(kMsgPartialMcu), std::string::npos);
    EXPECT_EQ(runs["trim"].Err.find(kMsgPartialMcu), std::string::npos) << runs["trim"].Err;
    EXPECT_EQ(runs["skip"].Err.find(kMsgPartialMcu), std::string::npos) << runs["skip"].Err;
    // The edge that stays at the bottom is turned whole under every choice.
    EXPECT_EQ(stayed["trim"], stayed["move"]);
    EXPECT_EQ(stayed["skip"], stayed["move"]);
    EXPECT_EQ(test::JpegSize(stayed["move"]), (std::pair<int, int>{48, 61}));

    // trim: as jpegtran -trim; skip: the photo as it was, and its line says so.
    ASSERT_TRUE(moved.count("trim"));
    fixtures::ExpectSameCoefficients(
        fixtures::ReadCoefficients(moved["trim"]),
        fixtures::ReadCoefficients(fixtures::RunJpegtran({"-rotate", "90", "-trim"}, moves)));
    EXPECT_EQ(runs["skip"].Out,
              OutputLine("( 1 / 2 )", "photos/moves.jpg", kStatusSkippedPartialEdge) +
                  OutputLine("( 2 / 2 )", "photos/stays.jpg", kStatusRotateRight));
    EXPECT_FALSE(moved.count("skip"));
    EXPECT_EQ(test::ReadBytes(test::PathIn(dir_, "photos/moves.jpg")), moves);
}

// A progressive photo is refused, as a baseline-only reader refuses it, with
// one more line naming the option that turns it; with --any-jpeg (or the
// stored setting) it is turned and stays progressive. What no option turns
// is named in words, without that line. --optimize makes the tables of a
// baseline photo for its own coefficients, which stay as they are.
TEST_F(CliTest, AnyJpegTurnsWhatItNamesAndOptimizeKeepsTheCoefficients) {
    test::WriteBytes(test::PathIn(dir_, "photos/p.jpg"), test::MakePhoto(64, 48, 6, true));
    const TCliRun refused = Run({"photos/p.jpg"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_NE(refused.Err.find("( 1 / 1 ) photos/p.jpg: " + std::string(kCaptionError) + ": " +
                               kNoteAnyJpegOption + "\n"),
              std::string::npos)
        << refused.Err;

    const TCliRun turned = Run({"--any-jpeg", "photos/p.jpg"});
    EXPECT_EQ(turned.Status, 0) << turned.Err;
    const test::TBytes result = test::ReadBytes(test::PathIn(dir_, "photos/result/p.jpg"));
    EXPECT_EQ(test::JpegSize(result), (std::pair<int, int>{48, 64}));
    EXPECT_TRUE(fixtures::ReadCoefficients(result).progressive);

    // Stored on, it is the default; --no-any-jpeg turns it off again.
    std::filesystem::create_directories(test::PathIn(dir_, "config/Tidecrest"));
    std::ofstream(test::PathIn(dir_, "config/Tidecrest/plume_auto.conf"))
        << "[General]\ngAnyJpeg=1\n";
    EXPECT_EQ(Run({"-o", "photos/stored.jpg", "photos/p.jpg"}).Status, 0);
    EXPECT_EQ(Run({"--no-any-jpeg", "-o", "photos/off.jpg", "photos/p.jpg"}).Status, 1);

    // Arithmetic coding (SOF9): named, and no option names itself.
    test::TBytes arithmetic = test::MakePhoto(64, 48, 6);
    arithmetic[fixtures::FindSegment(arithmetic, 0xFFC0)->offset + 1] = 0xC9;
    test::WriteBytes(test::PathIn(dir_, "photos/a.jpg"), arithmetic);
    const TCliRun named = Run({"photos/a.jpg"});
    EXPECT_NE(named.Out.find(FormatPathText(kLineRefused, kMsgArithmeticCoding)), std::string::npos)
        << named.Out;
    EXPECT_EQ(named.Err.find(kNoteAnyJpegOption), std::string::npos) << named.Err;

    const std::string photo = AddPhoto("b.jpg", 6);
    ASSERT_EQ(Run({"-o", "photos/kept.jpg", photo}).Status, 0);
    ASSERT_EQ(Run({"--optimize", "-o", "photos/made.jpg", photo}).Status, 0);
    const test::TBytes kept = test::ReadBytes(test::PathIn(dir_, "photos/kept.jpg"));
    const test::TBytes made = test::ReadBytes(test::PathIn(dir_, "photos/made.jpg"));
    fixtures::ExpectSameCoefficients(fixtures::ReadCoefficients(made),
                                     fixtures::ReadCoefficients(kept));
    EXPECT_LT(made.size(), kept.size());
}

// The window's three run options are the console's defaults too, and its
// options win over them.
TEST_F(CliTest, StoredRunOptionsAreDefaults) {
    std::filesystem::create_directories(test::PathIn(dir_, "config/Tidecrest"));
    std::ofstream(test::PathIn(dir_, "config/Tidecrest/plume_auto.conf"))
        << "[General]\ngExifAnywhere=1\ngFixMirrored=1\ngEdgePolicy=2\n";
    const test::TBytes comment = {0xFF, 0xFE, 0x00, 0x04, 'h', 'i'};
    test::WriteBytes(test::PathIn(dir_, "photos/later.jpg"),
                     fixtures::InsertBytes(test::MakePhoto(64, 48, 2), 2, comment));
    // Mirrored left to right, the partial right edge would come to the left.
    test::WriteBytes(test::PathIn(dir_, "photos/partial.jpg"), test::MakePhoto(61, 48, 2));
    EXPECT_EQ(Run({"photos"}).Out,
              OutputLine("( 1 / 2 )", "photos/later.jpg", kStatusFlipHorizontal) +
                  OutputLine("( 2 / 2 )", "photos/partial.jpg", kStatusSkippedPartialEdge));
    EXPECT_EQ(
        Run({"--no-exif-anywhere", "--edges=move", "photos/later.jpg", "photos/partial.jpg"}).Out,
        OutputLine("( 1 / 2 )", "photos/later.jpg", kStatusNothingToDo) +
            OutputLine("( 2 / 2 )", "photos/partial.jpg", kStatusFlipHorizontal));
    EXPECT_EQ(Run({"--no-mirrored", "photos/partial.jpg"}).Out,
              OutputLine("( 1 / 1 )", "photos/partial.jpg", kStatusNothingToDo));
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

std::string TimeText(const std::filesystem::path& path) {
    const timespec time = test::ModificationTime(path.string());
    std::string text = "@";
    text += std::to_string(time.tv_sec) + "." + std::to_string(time.tv_nsec);
    return text;
}

// Every file below root: relative path -> bytes and modification time. With
// folderTimes, folders (root as ".") carry theirs, which a file made and
// removed again in them changes.
std::map<std::string, std::string> FolderContents(const std::filesystem::path& root,
                                                  bool folderTimes = false) {
    std::map<std::string, std::string> files;
    if (folderTimes) files["."] = TimeText(root);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
        const std::string name = std::filesystem::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            files[name] = "(folder)" + (folderTimes ? TimeText(entry.path()) : "");
            continue;
        }
        const test::TBytes bytes = test::ReadBytes(entry.path().string());
        files[name] = std::string(bytes.begin(), bytes.end()) + TimeText(entry.path());
    }
    return files;
}

TEST_F(CliTest, JobsOption) {
    AddPhoto("a.jpg", 6);
    const std::string photo = "photos/a.jpg";
    for (const Strings& bad :
         {Strings{"-j", "0", photo}, Strings{"--jobs", "x", photo}, Strings{"-j", "257", photo},
          Strings{"--jobs=-1", photo}, Strings{photo, "-j"}})
        EXPECT_EQ(Run(bad).Status, 2) << bad[0] << " " << bad[1];
    for (const Strings& good : {Strings{"-j", "1", photo}, Strings{"-j3", photo},
                                Strings{"--jobs=2", photo}, Strings{"--jobs", "8", photo}}) {
        const TCliRun run = Run(good);
        EXPECT_EQ(run.Status, 0) << good[0] << run.Err;
        EXPECT_EQ(run.Out, OutputLine("( 1 / 1 )", photo, kStatusRotateRight));
    }
}

// A dry run by every save method (the stored one, recycle, included), with
// -j, --all, -o and a missing file (exit status 1): each photo that would be stored is named
// with where it would go, and nothing below the temporary folder changes (its
// home, trash, data home and settings store included), not even a folder's
// time, which a temporary file made and removed again would change.
TEST_F(CliTest, DryRunNamesWhatItWouldDoAndWritesNothing) {
    AddPhoto("a.jpg", 6);
    AddPhoto("b.jpg", 1);
    std::filesystem::create_directories(test::PathIn(dir_, "photos/sub"));
    AddPhoto("sub/c.jpg", 3);
    std::filesystem::create_directories(test::PathIn(dir_, "config/Tidecrest"));
    std::ofstream(test::PathIn(dir_, "config/Tidecrest/plume_auto.conf"))
        << "[General]\ngSaveMethod=1\n";
    const test::TFakeHome home(dir_.Path().string(), test::PathIn(dir_, "data"));
    Run({"--version"});  // makes the files that take the output
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_.Path()))
        if (entry.is_directory()) test::SetModificationTime(entry.path().string(), test::OldTime());
    test::SetModificationTime(dir_.Path().string(), test::OldTime());
    auto before = FolderContents(dir_.Path(), true);

    // A file's status, where it would be stored, and what becomes of the photo.
    const auto saved = [](const char* status, const std::string& output,
                          const std::string& photo = "") {
        std::string text = std::string(status) + " " + FormatPathText(kDryRunOutput, output);
        if (!photo.empty()) text += " " + photo;
        return text;
    };
    const TCliRun run = Run({"-n", "--save-method", "result", "photos"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_EQ(run.Out, OutputLine("( 1 / 3 )", "photos/a.jpg",
                                  saved(kStatusRotateRight, "photos/result/a.jpg")) +
                           OutputLine("( 2 / 3 )", "photos/b.jpg", kStatusNothingToDo) +
                           OutputLine("( 3 / 3 )", "photos/sub/c.jpg",
                                      saved(kStatusRotate180, "photos/sub/result/c.jpg")));
    EXPECT_EQ(run.Err, std::string(kStatusCompleted) + "\n" + kDryRunNothingWritten + "\n");

    struct TCase {
        Strings Args;
        int Status;
        std::string Line;  // one line of the output
    };
    const std::string kept = FormatPathText(kDryRunKeptCopy, "");
    const TCase cases[] = {
        {{"--dry-run", "photos"}, 0, saved(kStatusRotateRight, "photos/a.jpg", kDryRunToTrash)},
        {{"-n", "-j", "4", "--save-method", "bak", "photos"},
         0,
         saved(kStatusRotate180, "photos/sub/c.jpg", kept + "photos/sub/c.bak")},
        {{"-n", "--all", "--save-method", "original", "photos"},
         0,
         saved(kStatusNothingToDo, "photos/b.jpg", kept + "photos/original/b.jpg")},
        {{"-n", "-j", "2", "--save-method", "overwrite", "photos", "photos/none.jpg"},
         1,
         saved(kStatusRotateRight, "photos/a.jpg", kDryRunNotKept)},
        {{"-n", "--mode", "4", "-o", "out.jpg", "photos/b.jpg"},
         0,
         saved(kStatusFlipHorizontal, "out.jpg")},
    };
    for (const TCase& c : cases) {
        const TCliRun other = Run(c.Args);
        EXPECT_EQ(other.Status, c.Status) << c.Args[1] << other.Err;
        EXPECT_NE(other.Out.find(c.Line + "\n"), std::string::npos) << c.Args[1] << other.Out;
    }

    auto after = FolderContents(dir_.Path(), true);
    for (auto* files : {&before, &after}) files->erase("out.txt"), files->erase("err.txt");
    for (const auto& [name, contents] : after)
        EXPECT_TRUE(before.count(name) && before.at(name) == contents) << "changed: " << name;
    EXPECT_EQ(after.size(), before.size());
}

Strings Concat(Strings a, const Strings& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The same inputs, run one file at a time and four at once, in two copies of
// one folder: what is printed, the exit status and the files left are the same.
class CliJobsTest : public CliTest {
  protected:
    void MakeCopies() const {
        for (const std::string copy : {"j1", "j4"}) {
            const auto add = [&](const std::string& name, int orientation, int width = 320,
                                 int height = 240, bool progressive = false) {
                const std::string path = test::PathIn(dir_, copy + "/photos/" + name);
                std::filesystem::create_directories(std::filesystem::path(path).parent_path());
                test::WriteBytes(path, test::MakePhoto(width, height, orientation, progressive));
                test::SetModificationTime(path, test::OldTime());
            };
            add("a.jpg", 6);
            add("b.jpg", 1);
            add("c.jpg", 8);
            add("d.jpg", 3);
            add("e.jpg", 0);
            add("f.jpg", 6, 330, 250);        // a partial MCU: a warning
            add("g.jpg", 6, 320, 240, true);  // progressive: refused
            add("sub/h.jpg", 3);
            const std::string text = test::PathIn(dir_, copy + "/photos/text.jpg");
            test::WriteBytes(text, {'t', 'e', 'x', 't'});
            test::SetModificationTime(text, test::OldTime());
        }
    }
    TCliRun ExpectSameRuns(const Strings& args) const {
        const TCliRun one = Run(Concat({"-j", "1"}, args), "j1");
        const TCliRun four = Run(Concat({"-j", "4"}, args), "j4");
        EXPECT_EQ(four.Status, one.Status);
        EXPECT_EQ(four.Out, one.Out);
        EXPECT_EQ(four.Err, one.Err);
        const auto files1 = FolderContents(test::PathIn(dir_, "j1"));
        const auto files4 = FolderContents(test::PathIn(dir_, "j4"));
        EXPECT_EQ(files4.size(), files1.size());
        for (const auto& [name, contents] : files1)
            EXPECT_TRUE(files4.count(name) && files4.at(name) == contents) << name;
        return one;
    }
};

TEST_F(CliJobsTest, FolderWithFailuresAndRepeats) {
    MakeCopies();
    const TCliRun run = ExpectSameRuns(
        {"--save-method", "bak", "--all", "photos", "photos/a.jpg", "./photos/c.jpg"});
    EXPECT_EQ(run.Status, 1);  // the refused file and the text file
    EXPECT_NE(run.Err.find(kCaptionWarning), std::string::npos);
    EXPECT_NE(run.Err.find(kCannotProcessLine), std::string::npos);
    EXPECT_NE(run.Out.find("( 11 / 11 ) ./photos/c.jpg"), std::string::npos);
}

// A photo cut off inside its scan in the middle of a folder, and a path that
// names nothing: the console names each by its path, goes on with the other
// photos and exits 1; --stop-on-error ends the run at the first, as the
// window does.
class CliFileErrorTest : public CliJobsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CliFileErrorTest, FailedFilesAreNamedAndTheRunGoesOnUnlessAskedToStop) {
    const bool stop = GetParam();
    for (const std::string copy : {"j1", "j4"}) {
        std::filesystem::create_directories(test::PathIn(dir_, copy + "/photos"));
        const auto path = [&](const std::string& name) {
            return test::PathIn(dir_, copy + "/photos/" + name);
        };
        test::WriteBytes(path("a.jpg"), test::MakePhoto(320, 240, 6));
        test::TBytes cut = test::MakePhoto(320, 240, 3);
        cut.resize(cut.size() / 2);
        test::WriteBytes(path("b.jpg"), cut);
        test::WriteBytes(path("c.jpg"), test::MakePhoto(320, 240, 8));
        for (const std::string name : {"a.jpg", "b.jpg", "c.jpg"})
            test::SetModificationTime(path(name), test::OldTime());
    }
    Strings args{"--save-method", "overwrite", "photos", "photos/none.jpg"};
    if (stop) args.insert(args.begin(), "--stop-on-error");
    const TCliRun run = ExpectSameRuns(args);

    EXPECT_EQ(run.Status, 1);
    const std::string error = std::string(": ") + kCaptionError + ": ";
    EXPECT_NE(run.Err.find("( 2 / 4 ) photos/b.jpg" + error + kStreamReadError), std::string::npos)
        << run.Err;
    // A failed file's line names the failure and its reason, never the turn.
    const std::string lines =
        OutputLine("( 1 / 4 )", "photos/a.jpg", kStatusRotateRight) +
        OutputLine("( 2 / 4 )", "photos/b.jpg", FormatPathText(kLineFailed, kStreamReadError));
    if (stop) {
        EXPECT_EQ(run.Out, lines);
        EXPECT_NE(run.Err.find(kStatusInterrupted), std::string::npos);
    } else {
        EXPECT_EQ(run.Out,
                  lines + OutputLine("( 3 / 4 )", "photos/c.jpg", kStatusRotateLeft) +
                      OutputLine("( 4 / 4 )", "photos/none.jpg",
                                 FormatPathText(kLineFailed, FormatPathText(kFileCannotOpen,
                                                                            "photos/none.jpg"))));
        EXPECT_NE(run.Err.find("( 4 / 4 ) photos/none.jpg" + error +
                               FormatPathText(kFileCannotOpen, "photos/none.jpg")),
                  std::string::npos);
    }
    EXPECT_EQ(test::PhotoOrientation(test::ReadBytes(test::PathIn(dir_, "j4/photos/c.jpg"))),
              stop ? 8 : 1);
}

INSTANTIATE_TEST_SUITE_P(Rules, CliFileErrorTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "StopOnError" : "GoOn"; });

}  // namespace
}  // namespace plume
