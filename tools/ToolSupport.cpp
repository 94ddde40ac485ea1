#include "tools/ToolSupport.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/foundation/FileUtil.h"

namespace ww::tools {

std::optional<std::string> takeHardwarePortsFile(std::vector<std::string>& args, bool& ok) {
    ok = true;
    std::optional<std::string> file;
    for (size_t i = 0; i < args.size();) {
        if (args[i] != kHardwarePortsOption) {
            ++i;
            continue;
        }
        if (i + 1 >= args.size()) {
            ok = false;
            args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
            continue;
        }
        file = args[i + 1];
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(i + 2));
    }
    if (file) return file;
    if (const char* env = std::getenv(kHardwarePortsVariable); env && *env) return std::string(env);
    return std::nullopt;
}

std::vector<HardwarePortInfo> hardwarePortsFor(const NetworkSnapshot& snapshot,
                                               const std::optional<std::string>& declaredFile,
                                               std::string_view tool, std::string& errors) {
    std::vector<DeclaredPort> declared;
    if (declaredFile) {
        std::string error;
        if (auto text = file::readAll(*declaredFile, &error)) {
            std::vector<std::string> problems;
            declared = parseDeclaredPorts(*text, &problems);
            for (const auto& p : problems) appendError(errors, tool, *declaredFile + ": " + p);
        } else {
            appendError(errors, tool, *declaredFile + ": " + error);
        }
    }
    return listHardwarePorts(snapshot, kSysClassNet, declared);
}

namespace {

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool writeStandardOutput(std::string_view text) { return writeAll(STDOUT_FILENO, text); }

bool writeStandardError(std::string_view text) { return writeAll(STDERR_FILENO, text); }

void appendError(std::string& errors, std::string_view tool, std::string_view message) {
    errors += tool;
    errors += ": ";
    errors += message;
    errors += '\n';
}

}  // namespace ww::tools
