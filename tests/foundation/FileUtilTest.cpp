#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/foundation/FileUtil.h"
#include "tests/support/common_TestSupport.h"

namespace ww::file {
namespace {

TEST(FileUtilTest, AtomicWriteReplacesTheFileAndLeavesNoTemporaryBehind) {
    test::TempDir dir;
    std::string path = dir.file("prefs.plist");
    ASSERT_TRUE(writeAtomically(path, "first", 0600));
    ASSERT_TRUE(writeAtomically(path, "second", 0600));
    EXPECT_EQ(readAll(path), "second");
    EXPECT_EQ(test::listDir(dir.path()), std::vector<std::string>{"prefs.plist"});
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(FileUtilTest, FailuresAreReportedNotHidden) {
    std::string error;
    EXPECT_FALSE(writeAtomically("/nonexistent-dir/x", "data", 0600, &error));
    EXPECT_NE(error.find("/nonexistent-dir"), std::string::npos);
    EXPECT_FALSE(readAll("/nonexistent-dir/x", &error));
}

TEST(FileUtilTest, MakeDirectoriesCreatesParentsAndAcceptsExisting) {
    test::TempDir dir;
    EXPECT_TRUE(makeDirectories(dir.file("a/b/c")));
    EXPECT_TRUE(makeDirectories(dir.file("a/b/c")));
    ASSERT_TRUE(writeAtomically(dir.file("file"), "x", 0600));
    EXPECT_FALSE(makeDirectories(dir.file("file")));
    EXPECT_EQ(dirName("/a/b"), "/a");
    EXPECT_EQ(dirName("/a"), "/");
    EXPECT_EQ(dirName("a"), ".");
}

}  // namespace
}  // namespace ww::file
