// The login items on a real autostart folder: reading other programs' entries
// and writing ours (SettingsTabTest removes ours from a real folder).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "platform/foundation/FileUtil.h"
#include "platform/linux/autostart/XdgAutostart.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/common_TestSupport.h"

namespace ww::test {
namespace {

using xdg::XdgAutostart;

std::string entry(const std::string& exec) {
    return "[Desktop Entry]\nType=Application\nName=X\nExec=" + exec + "\n";
}

TEST(DesktopEntryTest, TheProgramIsTheUnquotedFirstWordOfExec) {
    struct Case {
        const char* text;
        std::optional<std::string> program;
    };
    const Case cases[] = {
        {"[Desktop Entry]\nExec=/usr/bin/wirewatch --headless\n", "/usr/bin/wirewatch"},
        {"[Desktop Entry]\nExec = /usr/bin/a %U\n", "/usr/bin/a"},
        {"[Desktop Entry]\r\nExec=/usr/bin/crlf\r\n", "/usr/bin/crlf"},
        // Quoted words, with the escapes allowed inside quotes; the file's own
        // string escapes come first (\\\\ in the file is one backslash in the value).
        {"[Desktop Entry]\nExec=\"/opt/my apps/ww\" --x\n", "/opt/my apps/ww"},
        {"[Desktop Entry]\nExec=\"/opt/a\\\\\"b\"\n", "/opt/a\"b"},
        {"[Desktop Entry]\nExec=\"/opt/\\\\$HOME/\\\\`x\\\\`\"\n", "/opt/$HOME/`x`"},
        {"[Desktop Entry]\nExec=\"/opt/back\\\\\\\\slash\"\n", "/opt/back\\slash"},
        {"[Desktop Entry]\nExec=/opt/100%%/ww\n", "/opt/100%/ww"},
        // The string escape \s is a space, so the first word ends there.
        {"[Desktop Entry]\nExec=/opt/my\\sapp\n", "/opt/my"},
        {"# comment\n\n[Desktop Entry]\nName=Y\nExec=relative-name\n", "relative-name"},
        {"[Desktop Entry]\nExec=/a\n[Desktop Action new]\nExec=/b\n", "/a"},
        {"[Desktop Action new]\nExec=/b\n[Desktop Entry]\nExec=/a\n", std::nullopt},
        {"[Desktop Entry]\nExec=/a\nHidden=true\n", std::nullopt},
        {"[Desktop Entry]\nExec=/a\nHidden=false\n", "/a"},
        {"[Desktop Entry]\nExec=\"/unterminated\n", std::nullopt},
        {"[Desktop Entry]\nExec=\"/a\"b\n", std::nullopt},
        {"[Desktop Entry]\nExec=\"/a\\\\q\"\n", std::nullopt},
        {"[Desktop Entry]\nExec=%f\n", std::nullopt},
        {"[Desktop Entry]\nExec=\n", std::nullopt},
        {"[Desktop Entry]\nName=no exec\n", std::nullopt},
        {"[Desktop Entry]\nExec=/a\nExec=/b\n", std::nullopt},
        {"Exec=/a\n", std::nullopt},
        {"[Desktop Entry\nExec=/a\n", std::nullopt},
        {"[Desktop Entry]\njunk line\nExec=/a\n", std::nullopt},
        // Paths are bytes: one that is not UTF-8 is still a program.
        {"[Desktop Entry]\nExec=/opt/caf\xe9/ww\n", "/opt/caf\xe9/ww"},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(xdg::programOfDesktopEntry(c.text), c.program);
    }
}

TEST(DesktopEntryTest, WrittenExecValuesReadBackAsTheSameProgram) {
    for (std::string program : {"/usr/bin/wirewatch", "/opt/my apps/wirewatch", "/opt/a\"b",
                                "/opt/$x/`y`", "/opt/back\\slash", "/opt/100%/ww", "/opt/it's;here",
                                "/opt/tab\there", "/opt/caf\xe9/\xff\xfe ww"}) {
        SCOPED_TRACE(program);
        std::string text = xdg::desktopEntryForProgram(program);
        EXPECT_EQ(xdg::programOfDesktopEntry(text), program) << text;
    }
    EXPECT_EQ(xdg::execValueForProgram("/usr/bin/wirewatch"), "/usr/bin/wirewatch");
    EXPECT_EQ(xdg::execValueForProgram("/opt/my apps/ww"), "\"/opt/my apps/ww\"");
}

class XdgAutostartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = dir.file("config/autostart");
        bin = dir.file("bin");
        file::makeDirectories(folder);
        file::makeDirectories(bin);
        program = bin + "/wirewatch";
        write(program, "#!/bin/sh\n", 0755);
    }
    void write(const std::string& path, const std::string& text, mode_t mode = 0644) {
        ASSERT_TRUE(file::writeAtomically(path, text, mode));
    }
    std::string at(const std::string& name) { return folder + "/" + name; }

    TempDir dir;
    std::string folder, bin, program;
};

TEST_F(XdgAutostartTest, ListsEntriesInNameOrderAndSkipsWhatCannotBeRead) {
    write(at("b.desktop"), entry("/usr/bin/b"));
    write(at("a.desktop"), entry("\"/usr/bin/a b\" --x"));
    write(at("c.desktop"), "\x01\x02 binary junk");
    write(at("not-an-entry.txt"), entry("/usr/bin/txt"));
    write(at(".hidden.desktop"), entry("/usr/bin/hidden"));
    ASSERT_EQ(::symlink("/nonexistent/target", at("dangling.desktop").c_str()), 0);
    ASSERT_EQ(::mkdir(at("folder.desktop").c_str(), 0755), 0);
    write(at("e.desktop"), entry("wirewatch --headless"));

    XdgAutostart autostart(folder, "/nonexistent:" + bin);
    auto list = autostart.create();
    ASSERT_TRUE(list);
    std::vector<std::string> expected = {"a.desktop",        "b.desktop", "c.desktop",
                                         "dangling.desktop", "e.desktop", "folder.desktop"};
    EXPECT_EQ(list->snapshot(), expected);
    EXPECT_EQ(list->resolve("a.desktop", 3), "/usr/bin/a b");
    EXPECT_EQ(list->resolve("b.desktop", 3), "/usr/bin/b");
    EXPECT_EQ(list->resolve("c.desktop", 3), std::nullopt);
    EXPECT_EQ(list->resolve("dangling.desktop", 3), std::nullopt);
    EXPECT_EQ(list->resolve("folder.desktop", 3), std::nullopt);
    // A bare name runs from the PATH.
    EXPECT_EQ(list->resolve("e.desktop", 0), program);

    if (::geteuid() != 0) {  // root reads whatever the mode says
        write(at("locked.desktop"), entry("/usr/bin/locked"), 0000);
        EXPECT_EQ(list->resolve("locked.desktop", 3), std::nullopt);
    }
}

// A FIFO would block the open (and start-up) for ever, a link to /dev/zero
// would be read until memory runs out, a huge file is no entry: each is
// skipped at once, with one log line.
TEST_F(XdgAutostartTest, OnlySmallRegularFilesAreReadAndNothingBlocks) {
    ScopedCapture capture;
    const std::string fifo = at("zz-other.desktop");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    XdgAutostart autostart(folder, "");
    auto list = autostart.create();
    auto pending =
        std::async(std::launch::async, [&] { return list->resolve("zz-other.desktop", 3); });
    if (pending.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // Let the stuck reader go: a writer that opens and closes gives it an end.
        ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        pending.wait();
        FAIL() << "reading a FIFO blocked";
    }
    EXPECT_EQ(pending.get(), std::nullopt);

    ASSERT_EQ(::symlink("/dev/zero", at("zero.desktop").c_str()), 0);
    EXPECT_EQ(list->resolve("zero.desktop", 3), std::nullopt);
    // A well-formed entry, but far larger than any entry is.
    write(at("huge.desktop"), entry(program) + "# " + std::string(4 << 20, 'x') + "\n");
    EXPECT_EQ(list->resolve("huge.desktop", 0), std::nullopt);
    // A link to a regular entry is read as that entry.
    write(dir.file("elsewhere.desktop"), entry("/usr/bin/linked"));
    ASSERT_EQ(::symlink(dir.file("elsewhere.desktop").c_str(), at("linked.desktop").c_str()), 0);
    EXPECT_EQ(list->resolve("linked.desktop", 3), "/usr/bin/linked");
    EXPECT_EQ(list->resolve("zero.desktop", 0), std::nullopt);  // looked at again: said once

    DDLog::flushLog();
    for (const char* name : {"zz-other.desktop", "zero.desktop", "huge.desktop"}) {
        int lines = 0;
        for (const auto& t : capture.logger->texts())
            lines += t.find(at(name)) != std::string::npos;
        EXPECT_EQ(lines, 1) << name;
    }
}

TEST_F(XdgAutostartTest, InsertWritesOurEntryAndNeverOverwritesAnother) {
    XdgAutostart autostart(dir.file("fresh/autostart"), "");
    auto list = autostart.create();
    ASSERT_TRUE(list->insertItemAtFront(program));
    EXPECT_EQ(list->snapshot(), std::vector<std::string>{"wirewatch.desktop"});
    EXPECT_EQ(list->resolve("wirewatch.desktop", 3), program);
    std::string text = file::readAll(dir.file("fresh/autostart/wirewatch.desktop")).value_or("");
    EXPECT_NE(text.find("Type=Application\n"), std::string::npos);
    EXPECT_NE(text.find("Exec=" + program + "\n"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("fresh/autostart").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // Someone else's wirewatch.desktop (another copy of the program) stays as it is.
    const std::string other = entry("/opt/other/wirewatch");
    write(at("wirewatch.desktop"), other);
    XdgAutostart mine(folder, "");
    auto list2 = mine.create();
    ASSERT_TRUE(list2->insertItemAtFront(program));
    EXPECT_EQ(file::readAll(at("wirewatch.desktop")), other);
    EXPECT_EQ(list2->resolve("wirewatch-2.desktop", 3), program);
    EXPECT_EQ(list2->snapshot().size(), 2u);  // no temporary file left behind
}

TEST(XdgAutostartPathsTest, FolderFromTheEnvironmentAndTheRunningProgram) {
    std::string savedConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", "/home/someone", 1);
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(XdgAutostart::defaultFolder(), "/cfg/autostart");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(XdgAutostart::defaultFolder(), "/home/someone/.config/autostart");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(XdgAutostart::defaultFolder(), "/home/someone/.config/autostart");
    ::unsetenv("HOME");
    EXPECT_EQ(XdgAutostart::defaultFolder(), std::nullopt);
    ::setenv("HOME", savedHome.c_str(), 1);
    if (!savedConfig.empty()) ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);

    std::string self = XdgAutostart::runningProgramPath();
    EXPECT_EQ(self.substr(self.rfind('/') + 1), "settings_tests");
}

}  // namespace
}  // namespace ww::test
