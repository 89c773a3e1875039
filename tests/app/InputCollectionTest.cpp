// Which paths a run gets from parameters and folders, and in which order.
#include <gtest/gtest.h>

#include <filesystem>

#include "AppTestSupport.h"
#include "app/files/InputCollection.h"

namespace plume {
namespace {

using Paths = std::vector<std::string>;

TEST(JpgExtension, AnyLetterCaseOfDotJpgOnly) {
    for (const char* yes : {"a.jpg", "b.JPG", "c.Jpg", "/x.y/d.jPg", "..jpg"})
        EXPECT_TRUE(HasJpgExtension(yes)) << yes;
    for (const char* no : {"a.jpeg", "a.jpe", "a.jpg.txt", "jpg", "/x.jpg/noext", "a.jpgx", ""})
        EXPECT_FALSE(HasJpgExtension(no)) << no;
}

TEST(JoinPath, NeverDoublesTheDelimiter) {
    EXPECT_EQ(JoinPath("/pics", "a.jpg"), "/pics/a.jpg");
    EXPECT_EQ(JoinPath("/pics/", "a.jpg"), "/pics/a.jpg");
    EXPECT_EQ(JoinPath("/", "a.jpg"), "/a.jpg");
}

class ScanFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* folder :
             {"sub", "sub/deeper", "b_sub", ".hidden", "f.jpg", "sub/result", "original"})
            std::filesystem::create_directories(test::PathIn(dir_, folder));
        for (const char* file : {"b.JPG", "a.jpg", "c.jpeg", "notes.txt", ".secret.jpg",
                                 "sub/d.jpg", "sub/deeper/e.Jpg", "b_sub/z.jpg", ".hidden/x.jpg",
                                 "f.jpg/g.jpg", "sub/result/r.jpg", "original/o.jpg"})
            test::WriteBytes(test::PathIn(dir_, file), {1});
        test::WriteBytes(test::PathIn(dir_, "real.jpeg"), {0xFF, 0xD8, 0xFF, 0xE0});
    }
    std::string Root() const { return dir_.Path().string(); }
    test::TTempDir dir_;
};

// The folders that saving writes into are passed over and named; a folder
// of that name given itself is searched.
TEST_F(ScanFolderTest, OwnFilesFirstThenSubFoldersDepthFirstSkippingHidden) {
    Paths list, skipped;
    ScanFolder(Root(), list, &skipped);
    const std::string r = Root() + "/";
    EXPECT_EQ(list, (Paths{r + "a.jpg", r + "b.JPG", r + "b_sub/z.jpg", r + "f.jpg/g.jpg",
                           r + "sub/d.jpg", r + "sub/deeper/e.Jpg"}));
    EXPECT_EQ(skipped, (Paths{r + "original", r + "sub/result"}));
    Paths named;
    ScanFolder(r + "sub/result", named);
    EXPECT_EQ(named, Paths{r + "sub/result/r.jpg"});
}

TEST_F(ScanFolderTest, FolderWithTrailingDelimiterGivesSamePaths) {
    Paths plain, trailing;
    ScanFolder(Root(), plain);
    ScanFolder(Root() + "/", trailing);
    EXPECT_EQ(plain, trailing);
}

TEST_F(ScanFolderTest, LinkedFolderIsNotFollowedButLinkedFileIs) {
    std::filesystem::create_directory_symlink(dir_.Path(), test::PathIn(dir_, "sub/loop"));
    std::filesystem::create_symlink(test::PathIn(dir_, "a.jpg"),
                                    test::PathIn(dir_, "sub/link.jpg"));
    Paths list;
    ScanFolder(Root() + "/sub", list);
    EXPECT_EQ(list, (Paths{Root() + "/sub/d.jpg", Root() + "/sub/link.jpg",
                           Root() + "/sub/deeper/e.Jpg"}));
}

TEST_F(ScanFolderTest, AcceptPathTakesFoldersAndJpgNamesUnchecked) {
    Paths list;
    EXPECT_TRUE(AcceptPath(test::PathIn(dir_, "sub"), list));
    // appended without an existence test
    EXPECT_TRUE(AcceptPath(test::PathIn(dir_, "missing.JPG"), list));
    EXPECT_FALSE(AcceptPath(test::PathIn(dir_, "c.jpeg"), list));        // no JPEG inside
    EXPECT_TRUE(AcceptPath(test::PathIn(dir_, "real.jpeg"), list));      // a JPEG by its content
    EXPECT_TRUE(AcceptPath(test::PathIn(dir_, ".hidden/x.jpg"), list));  // hidden, but named
    EXPECT_TRUE(AcceptPath(test::PathIn(dir_, "sub/d.jpg"), list));      // twice stays twice
    EXPECT_EQ(list,
              (Paths{Root() + "/sub/d.jpg", Root() + "/sub/deeper/e.Jpg", Root() + "/missing.JPG",
                     Root() + "/real.jpeg", Root() + "/.hidden/x.jpg", Root() + "/sub/d.jpg"}));
}

TEST(ScanFolder, UnreadableOrMissingFolderAddsNothing) {
    Paths list;
    ScanFolder("/nonexistent-plume-folder", list);
    AcceptPath("/nonexistent-plume-folder", list);
    EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace plume
