#include "platform/foundation/FileUtil.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

namespace ww::file {
namespace {

std::string makeTempDir() {
    char tmpl[] = "/tmp/ww-fileutil-XXXXXX";
    return ::mkdtemp(tmpl);
}

int entries(const std::string& dir) {
    int n = 0;
    DIR* d = ::opendir(dir.c_str());
    while (dirent* e = ::readdir(d)) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") ++n;
    }
    ::closedir(d);
    return n;
}

TEST(FileUtilTest, AtomicWriteReplacesTheFileAndLeavesNoTemporaryBehind) {
    std::string dir = makeTempDir();
    std::string path = dir + "/prefs.plist";
    ASSERT_TRUE(writeAtomically(path, "first", 0600));
    ASSERT_TRUE(writeAtomically(path, "second", 0600));
    EXPECT_EQ(readAll(path), "second");
    EXPECT_EQ(entries(dir), 1);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    std::system(("rm -rf " + dir).c_str());
}

TEST(FileUtilTest, FailuresAreReportedNotHidden) {
    std::string error;
    EXPECT_FALSE(writeAtomically("/nonexistent-dir/x", "data", 0600, &error));
    EXPECT_NE(error.find("/nonexistent-dir"), std::string::npos);
    EXPECT_FALSE(readAll("/nonexistent-dir/x", &error));
}

TEST(FileUtilTest, MakeDirectoriesCreatesParentsAndAcceptsExisting) {
    std::string dir = makeTempDir();
    EXPECT_TRUE(makeDirectories(dir + "/a/b/c"));
    EXPECT_TRUE(makeDirectories(dir + "/a/b/c"));
    ASSERT_TRUE(writeAtomically(dir + "/file", "x", 0600));
    EXPECT_FALSE(makeDirectories(dir + "/file"));
    EXPECT_EQ(dirName("/a/b"), "/a");
    EXPECT_EQ(dirName("/a"), "/");
    EXPECT_EQ(dirName("a"), ".");
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace ww::file
