// The trash on its own: names taken in the trash, the record of where a file
// came from, a trash that refuses the record, and a file on another file
// system.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/files/RecycleBin.h"

namespace plume {
namespace {

using test::TBytes;

// The record's whole text for a file recorded as path.
void ExpectRecord(const std::string& record, const std::string& path) {
    const TBytes bytes = test::ReadBytes(record);
    const std::string text(bytes.begin(), bytes.end());
    const std::string head = "[Trash Info]\nPath=";
    ASSERT_TRUE(text.starts_with(head)) << text;
    const std::size_t end = text.find('\n', head.size());
    ASSERT_NE(end, std::string::npos) << text;
    EXPECT_EQ(text.substr(head.size(), end - head.size()), path);
    // The date in local time, to the second; 'd' stands for a digit.
    const std::string form = "DeletionDate=dddd-dd-ddTdd:dd:dd\n";
    const std::string date = text.substr(end + 1);
    ASSERT_EQ(date.size(), form.size()) << text;
    for (std::size_t i = 0; i < form.size(); ++i)
        EXPECT_TRUE(form[i] == 'd' ? std::isdigit(static_cast<unsigned char>(date[i])) != 0
                                   : date[i] == form[i])
            << text;
}

struct TTrashNameCase {
    const char* Name;
    std::vector<std::string> Sources;   // below the test folder, trashed in this order
    std::vector<std::string> Trashed;   // their names in the trash
    std::vector<std::string> Recorded;  // their paths in the records, below the test folder
};
void PrintTo(const TTrashNameCase& c, std::ostream* out) {
    *out << c.Name;
}

class TrashNameTest : public ::testing::TestWithParam<TTrashNameCase> {
  protected:
    test::TTempDir dir_;
};

TEST_P(TrashNameTest, EachFileKeepsItsOwnNameAndRecord) {
    const TTrashNameCase& c = GetParam();
    test::TFakeHome home(dir_.Path().string(), test::PathIn(dir_, "data"));
    for (std::size_t i = 0; i < c.Sources.size(); ++i) {
        const std::string source = test::PathIn(dir_, c.Sources[i]);
        std::filesystem::create_directories(std::filesystem::path(source).parent_path());
        test::WriteBytes(source, TBytes{static_cast<std::uint8_t>(i)});
        ASSERT_TRUE(MoveToRecycleBin(source)) << source;
        EXPECT_FALSE(std::filesystem::exists(source));
    }
    for (std::size_t i = 0; i < c.Trashed.size(); ++i) {
        EXPECT_EQ(test::ReadBytes(test::PathIn(dir_, "data/Trash/files/" + c.Trashed[i])),
                  TBytes{static_cast<std::uint8_t>(i)});
        ExpectRecord(test::PathIn(dir_, "data/Trash/info/" + c.Trashed[i] + ".trashinfo"),
                     dir_.Path().string() + "/" + c.Recorded[i]);
    }
    EXPECT_EQ(test::FolderNames(test::PathIn(dir_, "data/Trash/files")).size(), c.Trashed.size());
}

INSTANTIATE_TEST_SUITE_P(Names, TrashNameTest,
                         ::testing::Values(
                             // A taken name gets a counter, as Qt's move to the trash gave it.
                             TTrashNameCase{"SameNameThrice",
                                            {"p1/a.jpg", "p2/a.jpg", "p3/a.jpg"},
                                            {"a.jpg", "a.jpg-0001", "a.jpg-0002"},
                                            {"p1/a.jpg", "p2/a.jpg", "p3/a.jpg"}},
                             // The record keeps the path URL-escaped, byte by byte (UTF-8 too).
                             TTrashNameCase{"SpaceJapanesePercent",
                                            {"p q/写真 100%.jpg"},
                                            {"写真 100%.jpg"},
                                            {"p%20q/%E5%86%99%E7%9C%9F%20100%25.jpg"}},
                             TTrashNameCase{"ReservedCharacters",
                                            {"p/x+y;z=~_-!.JPG", "p/.hidden"},
                                            {"x+y;z=~_-!.JPG", ".hidden"},
                                            {"p/x%2By%3Bz%3D~_-%21.JPG", "p/.hidden"}}),
                         [](const auto& info) { return std::string(info.param.Name); });

// An info folder that refuses the record: nothing is moved and nothing
// waits (run unprivileged, since the superuser ignores permission bits).
TEST(RecycleBin, RefusedRecordLeavesTheFileInPlace) {
    test::TTempDir dir;
    test::TFakeHome home(dir.Path().string(), test::PathIn(dir, "data"));
    const std::string source = test::PathIn(dir, "a.jpg");
    test::WriteBytes(source, TBytes{1, 2, 3});
    std::filesystem::create_directories(test::PathIn(dir, "data/Trash/files"));
    std::filesystem::create_directories(test::PathIn(dir, "data/Trash/info"));
    test::OpenToEveryone(dir.Path());
    ::chmod(test::PathIn(dir, "data/Trash/info").c_str(), 0555);
    EXPECT_EQ(test::RunUnprivileged([&] { return MoveToRecycleBin(source) ? 1 : 0; }), 0);
    EXPECT_EQ(test::ReadBytes(source), (TBytes{1, 2, 3}));
    EXPECT_TRUE(test::FolderNames(test::PathIn(dir, "data/Trash/files")).empty());
    EXPECT_TRUE(test::FolderNames(test::PathIn(dir, "data/Trash/info")).empty());
}

// A file on another file system goes to that file system's own trash, its
// record relative to the top directory. Needs a tmpfs at /dev/shm apart from
// the temporary folder; the top-directory trash is removed again if it was
// made here and nothing else is in it.
TEST(RecycleBin, FileOnAnotherFileSystemGoesToItsTopDirectoryTrash) {
    test::TTempDir dir;
    struct stat shm {
    }, temporary{};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.Path().c_str(), &temporary) != 0 ||
        shm.st_dev == temporary.st_dev || ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no writable file system at /dev/shm apart from the temporary folder";
    const std::string trash = "/dev/shm/.Trash-" + std::to_string(::getuid());
    const bool trashExisted = std::filesystem::exists(trash);
    char pattern[] = "/dev/shm/plume-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string folder = pattern;
    const std::string source = folder + "/a b.jpg";
    test::WriteBytes(source, TBytes{7});

    test::TFakeHome home(dir.Path().string(), test::PathIn(dir, "data"));
    const bool moved = MoveToRecycleBin(source);
    std::string trashed;
    for (const auto& entry : std::filesystem::directory_iterator(trash + "/info")) {
        const TBytes bytes = test::ReadBytes(entry.path());
        if (std::string(bytes.begin(), bytes.end()).find(folder.substr(9)) != std::string::npos)
            trashed = entry.path().stem().string();
    }
    EXPECT_TRUE(moved);
    EXPECT_FALSE(std::filesystem::exists(source));
    ASSERT_FALSE(trashed.empty());
    EXPECT_EQ(test::ReadBytes(trash + "/files/" + trashed), TBytes{7});
    ExpectRecord(trash + "/info/" + trashed + ".trashinfo", folder.substr(9) + "/a%20b.jpg");
    struct stat info {};
    ASSERT_EQ(::lstat(trash.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0700u);

    std::filesystem::remove(trash + "/files/" + trashed);
    std::filesystem::remove(trash + "/info/" + trashed + ".trashinfo");
    std::filesystem::remove_all(folder);
    if (!trashExisted) {
        // Only when empty: another run may be using it meanwhile.
        std::error_code ignored;
        for (const char* part : {"/files", "/info", ""})
            std::filesystem::remove(trash + part, ignored);
    }
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "data/Trash/files"));  // made all the same
}

}  // namespace
}  // namespace plume
