// What the console says of each photo once its outcome is known: a refusal
// or failure with its reason, never as the turn it was about to make; each
// line of a box naming the file; the stored save method that replaces
// photos; and where --stop-on-error stops.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "CliTestSupport.h"
#include "JpegRotation/EngineMessages.h"
#include "app/analysis/ExifAnalysis.h"
#include "app/files/SaveResult.h"
#include "app/texts/AppTexts.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"

namespace plume {
namespace {

namespace fs = std::filesystem;
using test::CliTest;
using test::OutputLine;
using test::TBytes;
using test::TCliRun;

class CliReportTest : public CliTest {
  protected:
    std::string Path(const std::string& name) const { return test::PathIn(dir_, name); }
    // photos/a.jpg refused by the engine, b.jpg no JPEG at all, c.jpg a
    // read-only photo, d.jpg to turn.
    void AddMixedFolder() const {
        test::WriteBytes(Path("photos/a.jpg"), test::MakePhoto(64, 48, 6, true));
        test::WriteBytes(Path("photos/b.jpg"), {'n', 'o', 't', 'e'});
        AddPhoto("c.jpg", 6);
        ::chmod(Path("photos/c.jpg").c_str(), 0444);
        AddPhoto("d.jpg", 6);
    }
};

TEST_F(CliReportTest, EachLineNamesTheOutcomeAndEveryBoxLineNamesTheFile) {
    AddMixedFolder();
    const std::string refusal = FormatPathText(kMsgUnknownHeader, "FFC2");
    const TCliRun run = Run({"--all", "--save-method", "bak", "photos"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out,
              OutputLine("( 1 / 4 )", "photos/a.jpg", FormatPathText(kLineRefused, refusal)) +
                  OutputLine("( 2 / 4 )", "photos/b.jpg",
                             FormatPathText(kLineRefused, kMsgAnalysisNoSoi)) +
                  OutputLine(
                      "( 3 / 4 )", "photos/c.jpg",
                      FormatPathText(kLineFailed, FormatPathText(kReadOnlyPhoto, "photos/c.jpg"))) +
                  OutputLine("( 4 / 4 )", "photos/d.jpg", kStatusRotateRight));
    const std::string error = std::string(": ") + kCaptionError + ": ";
    EXPECT_NE(run.Err.find("( 1 / 4 ) photos/a.jpg" + error + refusal + "\n( 1 / 4 ) photos/a.jpg" +
                           error + kCannotProcessLine + "\n"),
              std::string::npos)
        << run.Err;
    // One outcome for no JPEG, even with --all: nothing stored, nothing kept.
    for (const char* name : {"photos/a.bak", "photos/b.bak", "photos/c.bak"})
        EXPECT_FALSE(fs::exists(Path(name))) << name;
    EXPECT_EQ(test::ReadBytes(Path("photos/b.jpg")), (TBytes{'n', 'o', 't', 'e'}));
    EXPECT_TRUE(fs::exists(Path("photos/d.bak")));

    const TCliRun stop = Run({"--stop-on-error", "photos"});
    EXPECT_EQ(stop.Status, 1);
    EXPECT_EQ(stop.Out,
              OutputLine("( 1 / 4 )", "photos/a.jpg", FormatPathText(kLineRefused, refusal)));
    EXPECT_NE(stop.Err.find(kStatusInterrupted), std::string::npos);
}

// A save method that replaces photos, chosen once in the window, is named
// before the first photo unless the command line chose one.
TEST_F(CliReportTest, AStoredMethodThatReplacesPhotosIsNamed) {
    AddPhoto("p.jpg", 1);
    fs::create_directories(Path("config/Tidecrest"));
    const auto store = [&](int code) {
        std::string text = "[General]\ngSaveMethod=" + std::to_string(code) + "\n";
        test::WriteBytes(Path("config/Tidecrest/plume_auto.conf"),
                         TBytes(text.begin(), text.end()));
    };
    const std::string note = FormatPathText(kNoteStoredSaveMethod, kSaveMethodItems[4]);
    store(smOverwrite);
    EXPECT_EQ(Run({"photos"}).Err.find(note), 0u);
    EXPECT_EQ(Run({"--save-method", "overwrite", "photos"}).Err.find(note), std::string::npos);
    store(smResultFolder);
    EXPECT_EQ(Run({"photos"}).Err.find("--save-method"), std::string::npos);
}

// Under skip a photo that is turned whole (64 x 48 is whole 4:2:0 MCUs) has
// its thumbnail's partial edges trimmed, not padded into view as under move.
TEST_F(CliReportTest, SkipTrimsTheThumbnailsPartialEdges) {
    fixtures::TExifOptions exif;
    exif.littleEndian = false;
    exif.ifd0 = fixtures::TypicalIfd0(3);
    exif.ifd1 = fixtures::JpegThumbnailIfd1(40, 30);
    exif.thumbnail = test::MakePhoto(40, 30, 0);
    test::WriteBytes(Path("photos/p.jpg"),
                     fixtures::InsertSegmentAfterSoi(test::MakePhoto(64, 48, 0),
                                                     fixtures::BuildExif(exif).Segment()));
    const auto thumbnailSize = [&](const std::string& edges) {
        EXPECT_EQ(Run({"--edges", edges, "photos/p.jpg"}).Status, 0);
        const auto parsed = fixtures::ParseExif(test::ReadBytes(Path("photos/result/p.jpg")));
        return parsed ? test::JpegSize(parsed->JpegThumbnail()) : std::pair<int, int>{};
    };
    EXPECT_EQ(thumbnailSize("move"), (std::pair<int, int>{40, 30}));
    EXPECT_EQ(thumbnailSize("skip"), (std::pair<int, int>{32, 16}));
    EXPECT_EQ(thumbnailSize("trim"), (std::pair<int, int>{32, 16}));
}

}  // namespace
}  // namespace plume
