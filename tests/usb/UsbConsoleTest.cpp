#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "tests/support/usb_FakeSysfs.h"
#include "usb/UsbConsole.h"

namespace ww {
namespace {

TEST(UsbConsole, StandardStreamsGetTheTextsAsWritten) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    UsbConsole::standard().standardOutput("Device not found\n");
    UsbConsole::standard().standardError(std::string("bsdName: a\0b\n", 13));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string("bsdName: a\0b\n", 13));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Device not found\n");
}

// Exit codes of the child that listens on its own /dev/log.
constexpr int kReceived = 0;
constexpr int kCannotIsolate = 77;

int listenForSyslogInPrivateDev(const char* message, const std::string& outputFile) {
    if (::unshare(CLONE_NEWNS) != 0) return kCannotIsolate;
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return kCannotIsolate;
    if (::mount("tmpfs", "/dev", "tmpfs", 0, nullptr) != 0) return kCannotIsolate;
    const int sock = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
    if (sock < 0 || ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return 2;

    ::closelog();  // a connection made before the fork points at the old /dev/log
    UsbConsole::standard().systemLog(message);

    pollfd p{sock, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return 3;
    char buffer[1024];
    const ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
    if (n <= 0) return 4;
    const int f = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (f < 0 || ::write(f, buffer, static_cast<std::size_t>(n)) != n) return 5;
    ::close(f);
    return kReceived;
}

TEST(UsbConsole, SystemLogGetsANoticeEntry) {
    test::FakeSysfs dir;
    const std::string output = dir.path("entry");
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) ::_exit(listenForSyslogInPrivateDev("vendorID & productID are null.", output));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kCannotIsolate) {
        GTEST_SKIP() << "needs root to give a child its own /dev/log (mount namespace)";
    }
    ASSERT_EQ(WEXITSTATUS(status), kReceived);
    const std::string entry = dir.readFile("entry");
    // user facility (8) + notice (5)
    EXPECT_EQ(entry.rfind("<13>", 0), 0u) << entry;
    const std::string tail = ": vendorID & productID are null.";
    ASSERT_GE(entry.size(), tail.size());
    EXPECT_EQ(entry.substr(entry.size() - tail.size()), tail) << entry;
}

}  // namespace
}  // namespace ww
