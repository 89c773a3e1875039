// Loading inputs and the safe write underneath every save.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "AppTestSupport.h"
#include "app/files/FileAccess.h"
#include "app/files/SafeWrite.h"
#include "app/files/SaveResult.h"
#include "app/texts/AppTexts.h"

namespace plume {
namespace {

using test::TBytes;
using Strings = std::vector<std::string>;

std::string LoadError(const std::string& path) {
    TMemoryStream stream;
    TFileTimes times;
    try {
        LoadFile(path, stream, times);
    } catch (const EStreamError& error) {
        return error.what();
    }
    return "";
}

TEST(LoadFile, ReadsBytesAndTimesToNanoseconds) {
    test::TTempDir dir;
    const std::string path = test::PathIn(dir, "a.jpg");
    test::WriteBytes(path, {1, 2, 3});
    test::SetModificationTime(path, test::OldTime());
    TMemoryStream stream(TBytes{9, 9, 9, 9, 9});
    stream.SetPosition(4);
    TFileTimes times;
    LoadFile(path, stream, times);
    EXPECT_EQ(stream.Bytes(), (TBytes{1, 2, 3}));
    EXPECT_EQ(stream.Position(), 0u);
    ASSERT_TRUE(times.LastWrite);
    EXPECT_TRUE(test::SameTime(*times.LastWrite, test::OldTime()));
}

TEST(LoadFile, PathsThatAreNoRegularFileCannotBeOpened) {
    test::TTempDir dir;
    std::filesystem::create_directory(test::PathIn(dir, "folder.jpg"));
    ASSERT_EQ(::mkfifo((test::PathIn(dir, "pipe.jpg")).c_str(), 0600),
              0);  // must not block the run
    for (const std::string& path :
         Strings{test::PathIn(dir, "missing.jpg"), test::PathIn(dir, "folder.jpg"),
                 test::PathIn(dir, "pipe.jpg")})
        EXPECT_EQ(LoadError(path), FormatPathText(kFileCannotOpen, path));
}

TEST(WriteFileReplacing, NewFileGetsTimeButNotAccessTime) {
    test::TTempDir dir;
    const std::string path = test::PathIn(dir, "new.jpg");
    TFileTimes times;
    times.LastWrite = test::OldTime();
    WriteFileReplacing(path, TBytes{7, 8}, times);
    EXPECT_EQ(test::ReadBytes(path), (TBytes{7, 8}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_TRUE(test::SameTime(info.st_mtim, test::OldTime()));
    EXPECT_GT(info.st_atim.tv_sec, test::OldTime().tv_sec);  // access time not set with it
    EXPECT_EQ(test::FolderNames(dir.Path()), std::vector<std::string>{"new.jpg"});
}

// Sizes around the megabyte steps of the write and the huge-page sizes of
// the read: every byte comes back where it was, into a buffer used before.
TEST(WriteFileReplacing, LargeFilesComeBackWhole) {
    test::TTempDir dir;
    const std::string path = test::PathIn(dir, "large.jpg");
    TMemoryStream stream;
    for (const std::size_t size : {std::size_t{1} << 20, (std::size_t{3} << 20) + 7,
                                   (std::size_t{5} << 20) - 1, std::size_t{1} << 19}) {
        TBytes bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 >> 3);
        WriteFileReplacing(path, bytes, {});
        TFileTimes times;
        LoadFile(path, stream, times);
        EXPECT_TRUE(stream.Bytes() == bytes) << size;
    }
}

TEST(WriteFileReplacing, MissingFolderThrowsCreateErrorWithTarget) {
    test::TTempDir dir;
    const std::string path = test::PathIn(dir, "no/such/folder/a.jpg");
    try {
        WriteFileReplacing(path, TBytes{1}, {});
        FAIL() << "no error";
    } catch (const EStreamError& error) {
        EXPECT_EQ(std::string(error.what()), CannotCreateText(path, ENOENT));
    }
}

TEST(KeptCopy, HasSourceBytesBitsAndGivenTime) {
    test::TTempDir dir;
    test::WriteBytes(test::PathIn(dir, "a.jpg"), {4, 5, 6});
    ::chmod((test::PathIn(dir, "a.jpg")).c_str(), 0604);
    TFileTimes times;
    times.LastWrite = test::OldTime();
    const TMemoryStream output(TBytes{7});
    ASSERT_EQ(SaveResult(output, test::PathIn(dir, "a.jpg"), times,
                         TSaveOptions{smBackupExtension, false, false})
                  .Outcome,
              TSaveOutcome::Saved);
    EXPECT_EQ(test::ReadBytes(test::PathIn(dir, "a.bak")), (TBytes{4, 5, 6}));
    EXPECT_TRUE(
        test::SameTime(test::ModificationTime(test::PathIn(dir, "a.bak")), test::OldTime()));
    struct stat info {};
    ASSERT_EQ(::stat((test::PathIn(dir, "a.bak")).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(SaveResult(output, test::PathIn(dir, "missing.jpg"), times,
                         TSaveOptions{smBackupExtension, false, false})
                  .Outcome,
              TSaveOutcome::InputChanged);
    EXPECT_FALSE(std::filesystem::exists(test::PathIn(dir, "missing.bak")));
}

TEST(AppTexts, CounterNameAndFolderParts) {
    EXPECT_EQ(FileCounterText(3, 12), "( 3 / 12 )");
    EXPECT_EQ(FileNamePart("/a/b/IMG.JPG"), "IMG.JPG");
    EXPECT_EQ(FileNamePart("IMG.JPG"), "IMG.JPG");
    EXPECT_EQ(FolderPart("/a/b/IMG.JPG"), "/a/b/");
    EXPECT_EQ(FolderPart("IMG.JPG"), "");
    EXPECT_EQ(FormatPathText(kFileCannotOpen, "/x.jpg"), "ファイル /x.jpg は開けません");
}

}  // namespace
}  // namespace plume
