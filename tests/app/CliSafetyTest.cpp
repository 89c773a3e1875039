// The console against what a file system and other people can do to a run:
// a full disk under the trash method, a result folder that links back, a
// second run over kept originals, outputs that are no file, sizes no file
// should have, no memory left, orientations stored in other types than
// SHORT, and a picture too small to trim.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "CliTestSupport.h"
#include "JpegRotation/EngineMessages.h"
#include "app/analysis/ExifAnalysis.h"
#include "app/texts/AppTexts.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"
#include "fixtures/SmallDisk.h"

namespace plume {
namespace {

namespace fs = std::filesystem;
using test::CliTest;
using test::TBytes;
using test::TCliRun;

class CliSafetyTest : public CliTest {
  protected:
    std::string Path(const std::string& name) const { return test::PathIn(dir_, name); }
    bool Contains(const std::string& text, const std::string& part) const {
        return text.find(part) != std::string::npos;
    }
};

// A disk too small for the photo and its turned copy at once: the photo
// stays at its place (it used to go to the trash before the write failed).
TEST_F(CliSafetyTest, TrashMethodOnAFullDiskLeavesThePhotoInPlace) {
    const TBytes photo = test::MakePhoto(1600, 1200, 6);
    fixtures::TSmallDisk disk(photo.size() + photo.size() / 2);
    if (!disk.Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string path = (disk.Path() / "p.jpg").string();
    test::WriteBytes(path, photo);
    const TCliRun run = Run({"--save-method", "recycle", path});
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, FormatPathText(kFileCannotCreate, path))) << run.Err;
    EXPECT_EQ(test::ReadBytes(path), photo);
    for (const auto& entry : fs::recursive_directory_iterator(disk.Path()))
        EXPECT_TRUE(entry.path() == path || entry.is_directory()) << entry.path();
}

TEST_F(CliSafetyTest, AResultFolderThatLinksBackIsRefusedNamingBoth) {
    const std::string photo = AddPhoto("p.jpg", 6);
    const TBytes before = test::ReadBytes(photo);
    fs::create_directory_symlink(".", Path("photos/result"));
    const TCliRun run = Run({"--save-method", "result", "photos/p.jpg"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(
        Contains(run.Err, FormatPathsText(kOutputIsInput, "photos/result/p.jpg", "photos/p.jpg")))
        << run.Err;
    EXPECT_EQ(test::ReadBytes(photo), before);
}

// The kept originals and the results are not turned again by a second run
// over the folder; the console names each folder it passes over, and a
// folder named on the command line is taken all the same.
TEST_F(CliSafetyTest, ASecondRunPassesOverTheFoldersItWroteInto) {
    const std::string photo = AddPhoto("p.jpg", 6);
    const TBytes original = test::ReadBytes(photo);
    ASSERT_EQ(Run({"--save-method", "original", "photos"}).Status, 0);
    const TCliRun second = Run({"--save-method", "original", "photos"});
    EXPECT_EQ(second.Status, 0) << second.Err;
    EXPECT_EQ(test::ReadBytes(Path("photos/original/p.jpg")), original);
    EXPECT_FALSE(fs::exists(Path("photos/original/original")));
    EXPECT_TRUE(Contains(second.Err, FormatPathText(kSkippedOwnFolder, "photos/original")));

    const TCliRun named = Run({"--save-method", "result", "photos/original"});
    EXPECT_TRUE(Contains(named.Out, "photos/original/p.jpg")) << named.Out;
}

TEST_F(CliSafetyTest, OutputIntoSomethingOtherThanAFileIsRefused) {
    const std::string photo = AddPhoto("p.jpg", 6);
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    const TCliRun run = Run({"-o", "fifo", "photos/p.jpg"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, FormatPathText(kNotRegularFile, "fifo"))) << run.Err;
    EXPECT_TRUE(fs::is_fifo(Path("fifo")));
}

// A sparse file costs no disk but would take all memory: the photo is
// named and the run goes on; a settings file of that kind is not read.
TEST_F(CliSafetyTest, SizesNoFileShouldHaveFailAloneAndNeverAbort) {
    AddPhoto("a.jpg", 6);
    const auto sparse = [](const std::string& path, std::uintmax_t size) {
        test::WriteBytes(path, {0xFF, 0xD8});
        fs::resize_file(path, size);
    };
    sparse(Path("photos/huge.jpg"), std::uintmax_t{30} << 30);
    const TCliRun run = Run({"photos"});
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, FormatPathText(kFileTooLarge, "photos/huge.jpg"))) << run.Err;
    EXPECT_TRUE(fs::exists(Path("photos/result/a.jpg")));

    fs::create_directories(Path("config/Tidecrest"));
    sparse(Path("config/Tidecrest/plume_auto.conf"), std::uintmax_t{100} << 30);
    EXPECT_EQ(Run({"--help"}).Status, 0);
    const TCliRun withSettings = Run({"photos/a.jpg"});
    EXPECT_EQ(withSettings.Status, 0) << withSettings.Err;
    EXPECT_TRUE(Contains(withSettings.Err, "plume_auto.conf")) << withSettings.Err;
}

// Memory runs out for one photo (a limit on the address space): that photo
// fails with its name, and the next one is turned.
TEST_F(CliSafetyTest, APhotoThatRunsOutOfMemoryFailsAlone) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves more address space than the limit leaves";
#else
    AddPhoto("b.jpg", 6);
    test::WriteBytes(Path("photos/a.jpg"), {0xFF, 0xD8});
    fs::resize_file(Path("photos/a.jpg"), std::uintmax_t{900} << 20);
    const TCliRun run = Run({"-j", "1", "photos"}, "", "ulimit -v 600000");
    EXPECT_EQ(run.Status, 1);
    EXPECT_TRUE(Contains(run.Err, FormatPathText(kOutOfMemory, "photos/a.jpg"))) << run.Err;
    EXPECT_TRUE(fs::exists(Path("photos/result/b.jpg")));
#endif
}

// IFD0's Orientation as BYTE, SHORT or LONG in either byte order is read
// and set upright in its own type; an ASCII one is reported, left alone and
// not acted on, also when a turn is forced.
TEST_F(CliSafetyTest, OrientationIsReadAndWrittenInItsOwnType) {
    struct TCase {
        const char* Name;
        fixtures::TTiffEntry Entry;
    };
    const TCase types[] = {
        {"byte",
         {fixtures::tag::kOrientation, fixtures::kTiffByte, 1, {}, TBytes{6}, std::nullopt}},
        {"short", fixtures::Short(fixtures::tag::kOrientation, {6})},
        {"long", fixtures::Long(fixtures::tag::kOrientation, {6})},
        {"ascii", fixtures::Ascii(fixtures::tag::kOrientation, "6")},
    };
    std::vector<std::string> names;
    for (const bool littleEndian : {true, false}) {
        for (const TCase& c : types) {
            fixtures::TExifOptions exif;
            exif.littleEndian = littleEndian;
            exif.ifd0 = {fixtures::Short(fixtures::tag::kMake, {1}), c.Entry};
            names.push_back(std::string(c.Name) + (littleEndian ? "-le.jpg" : "-be.jpg"));
            test::WriteBytes(Path("photos/" + names.back()),
                             fixtures::InsertSegmentAfterSoi(test::MakePhoto(64, 48, 0),
                                                             fixtures::BuildExif(exif).Segment()));
        }
    }
    const TCliRun run = Run({"photos"});
    const TCliRun forced = Run({"--mode", "3", "--save-method", "original", "photos"});
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const bool ascii = name.starts_with("ascii");
        EXPECT_EQ(Contains(run.Err, "photos/" + name + ": " + kCaptionWarning + ": " +
                                        kMsgOrientationUnreadable),
                  ascii)
            << run.Err;
        EXPECT_EQ(fs::exists(Path("photos/result/" + name)), !ascii);
        // Forced or not, the entry keeps its type, and a number type reads 1.
        for (const std::string& output : {"photos/result/" + name, "photos/" + name}) {
            if (!fs::exists(Path(output))) continue;
            const TBytes jpeg = test::ReadBytes(Path(output));
            const auto parsed = fixtures::ParseExif(jpeg);
            ASSERT_TRUE(parsed);
            const fixtures::TParsedEntry* entry =
                parsed->Find(parsed->ifd0, fixtures::tag::kOrientation);
            ASSERT_NE(entry, nullptr);
            const auto before =
                fixtures::ParseExif(test::ReadBytes(Path("photos/original/" + name)));
            ASSERT_TRUE(before);
            EXPECT_EQ(entry->type, before->Find(before->ifd0, fixtures::tag::kOrientation)->type);
            if (fixtures::HaveExiftool()) {
                EXPECT_EQ(fixtures::ExiftoolTags(jpeg)["IFD0:Orientation"], ascii ? "6" : "1");
            }
        }
    }
    EXPECT_EQ(forced.Status, 0) << forced.Err;
}

// Under trim, a picture narrower than one MCU has nothing to trim to: its
// padding comes into view, and it gets the warning that move gives.
TEST_F(CliSafetyTest, TrimOnAPictureSmallerThanAnMcuWarns) {
    test::WriteBytes(Path("photos/thin.jpg"), test::MakePhoto(10, 40, 3));
    const TCliRun run = Run({"--edges", "trim", "photos/thin.jpg"});
    EXPECT_EQ(run.Status, 0) << run.Err;
    EXPECT_TRUE(Contains(run.Err, kMsgPartialMcu)) << run.Err;
}

}  // namespace
}  // namespace plume
