#include "platform/linux/autostart/XdgAutostart.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

#include "logging/DDLog.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"

namespace ww::xdg {

namespace {

constexpr const char* kSuffix = ".desktop";
// Characters that force an Exec argument into double quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
// Characters that need a backslash inside double quotes.
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

bool endsWith(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Undoes the escapes of a desktop-entry string value: \s \n \t \r \\.
std::optional<std::string> unescapeString(std::string_view value) {
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            out += value[i];
            continue;
        }
        if (++i == value.size()) return std::nullopt;
        switch (value[i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            // Other escapes are not defined for strings; keep them for the
            // Exec quoting rules to judge (a lone "\;" in a list, say).
            default:
                out += '\\';
                out += value[i];
        }
    }
    return out;
}

// The first word of an unescaped Exec value: a double-quoted word (with \" \`
// \$ \\ inside) or a run of characters up to white space; "%%" stands for "%".
std::optional<std::string> firstExecWord(std::string_view exec) {
    size_t i = 0;
    while (i < exec.size() && (exec[i] == ' ' || exec[i] == '\t')) ++i;
    if (i == exec.size()) return std::nullopt;
    std::string word;
    if (exec[i] == '"') {
        for (++i;; ++i) {
            if (i == exec.size()) return std::nullopt;  // no closing quote
            char c = exec[i];
            if (c == '"') break;
            if (c == '\\') {
                if (i + 1 == exec.size() ||
                    kEscapedInQuotes.find(exec[i + 1]) == std::string::npos) {
                    return std::nullopt;
                }
                c = exec[++i];
            }
            word += c;
        }
        ++i;
        if (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') return std::nullopt;
    } else {
        for (; i < exec.size() && exec[i] != ' ' && exec[i] != '\t'; ++i) {
            if (exec[i] == '"' || exec[i] == '\\') return std::nullopt;
            word += exec[i];
        }
    }
    std::string program;
    for (size_t k = 0; k < word.size(); ++k) {
        if (word[k] == '%') {
            if (k + 1 < word.size() && word[k + 1] == '%') {
                program += '%';
                ++k;
                continue;
            }
            return std::nullopt;  // a field code cannot be the program
        }
        program += word[k];
    }
    if (program.empty()) return std::nullopt;
    return program;
}

bool isTrue(std::string_view value) { return text::trim(value) == "true"; }

// An entry is a few hundred bytes; anything far larger is no entry.
constexpr off_t kMaxEntryBytes = 64 * 1024;

// Why the file at `path` is no entry to read: not a regular file (a FIFO would
// block the open, /dev/zero behind a link never ends) or too large. Empty
// when it is fine.
std::string refusalFor(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_size > kMaxEntryBytes) return "it is larger than 64 KiB";
    return std::string();
}

// The bytes of a small regular file; nothing otherwise (`refused` then says
// why when it is there but no entry).
std::optional<std::string> readEntry(const std::string& path, std::string& refused) {
    struct stat st {};
    // A dangling link or a file gone since the listing is simply no entry.
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    std::string refusal = refusalFor(st);
    int fd = -1;
    if (refusal.empty()) {
        // Never blocks, even on a FIFO swapped in since the stat; judged
        // again on what was opened.
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) return std::nullopt;
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            return std::nullopt;
        }
        refusal = refusalFor(st);
    }
    std::string bytes;
    if (refusal.empty()) {
        char buf[8192];
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ::close(fd);
                return std::nullopt;
            }
            if (n == 0) break;
            bytes.append(buf, static_cast<size_t>(n));
            if (bytes.size() > static_cast<size_t>(kMaxEntryBytes)) {
                refusal = "it is larger than 64 KiB";
                break;
            }
        }
    }
    if (fd >= 0) ::close(fd);
    if (!refusal.empty()) {
        refused = refusal;
        return std::nullopt;
    }
    return bytes;
}

void saySkipped(const std::string& path, const std::string& why) {
    // Start-up reads the folder before the log is set up: the terminal then.
    if (DDLog::allLoggers().empty()) {
        std::fprintf(stderr, "wirewatch: autostart entry %s is skipped: %s\n", path.c_str(),
                     why.c_str());
    } else {
        WWLogError("Autostart: %@ is skipped: %@", path, why);
    }
}

std::optional<std::string> findInPath(const std::string& name, const std::string& searchPath) {
    for (std::string_view dir : text::split(searchPath, ':')) {
        if (dir.empty()) continue;
        std::string candidate = std::string(dir) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    return std::nullopt;
}

class AutostartList : public LoginItemsList {
  public:
    AutostartList(std::string folder, std::string searchPath)
        : m_folder(std::move(folder)), m_searchPath(std::move(searchPath)) {}

    std::vector<Item> snapshot() override {
        std::vector<Item> names;
        DIR* dir = ::opendir(m_folder.c_str());
        if (!dir) return names;
        while (dirent* e = ::readdir(dir)) {
            std::string name = e->d_name;
            if (name.size() > std::string_view(kSuffix).size() && endsWith(name, kSuffix) &&
                name[0] != '.') {
                names.push_back(name);
            }
        }
        ::closedir(dir);
        std::sort(names.begin(), names.end());
        return names;
    }

    std::optional<std::string> resolve(const Item& item, int /*flags*/) override {
        const std::string path = m_folder + "/" + item;
        std::string refused;
        std::optional<std::string> bytes = readEntry(path, refused);
        // Said once for this look at the folder, however often it is resolved.
        if (!refused.empty() && m_skipped.insert(path).second) saySkipped(path, refused);
        if (!bytes) return std::nullopt;
        std::optional<std::string> program = programOfDesktopEntry(*bytes);
        if (!program) return std::nullopt;
        if (program->find('/') == std::string::npos) {
            // A bare name runs from the PATH, as the session starts it.
            program = findInPath(*program, m_searchPath);
            if (!program) return std::nullopt;
        }
        // The running program knows itself by its real path.
        char real[PATH_MAX];
        if (::realpath(program->c_str(), real)) return std::string(real);
        return program;
    }

    bool insertItemAtFront(const std::string& programPath) override {
        if (!file::makeDirectories(m_folder)) return false;
        std::string tmp = m_folder + "/.wirewatch-" + std::to_string(::getpid()) + ".desktop.new";
        if (!file::writeAtomically(tmp, desktopEntryForProgram(programPath), 0644)) return false;
        // link() never replaces a file: an entry of that name, whoever wrote
        // it, is left alone and the next free name is taken.
        bool linked = false;
        for (int n = 1; n < 100 && !linked; ++n) {
            std::string name =
                n == 1 ? "wirewatch.desktop" : "wirewatch-" + std::to_string(n) + kSuffix;
            if (::link(tmp.c_str(), (m_folder + "/" + name).c_str()) == 0) {
                linked = true;
            } else if (errno != EEXIST) {
                break;
            }
        }
        ::unlink(tmp.c_str());
        return linked;
    }

    bool remove(const Item& item) override {
        return ::unlink((m_folder + "/" + item).c_str()) == 0;
    }

  private:
    std::string m_folder;
    std::string m_searchPath;
    std::set<std::string> m_skipped;
};

}  // namespace

std::optional<std::string> programOfDesktopEntry(const std::string& entryText) {
    // Bytes that are not UTF-8 are kept as they are: a program path is bytes.
    bool inEntry = false;
    bool seenGroup = false;
    std::optional<std::string> exec;
    bool hidden = false;
    for (std::string_view raw : text::split(entryText, '\n')) {
        std::string_view line = raw;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        std::string_view trimmed = text::trim(line);
        if (trimmed.empty() || trimmed[0] == '#') continue;
        if (trimmed[0] == '[') {
            if (trimmed.back() != ']') return std::nullopt;
            inEntry = trimmed == "[Desktop Entry]";
            // The main group comes first; anything before it is broken.
            if (!seenGroup && !inEntry) return std::nullopt;
            seenGroup = true;
            continue;
        }
        if (!seenGroup) return std::nullopt;
        if (!inEntry) continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        std::string_view key = text::trim(line.substr(0, eq));
        std::string_view value = line.substr(eq + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
            value.remove_prefix(1);
        if (key == "Exec") {
            if (exec) return std::nullopt;  // a key twice in a group is broken
            std::optional<std::string> unescaped = unescapeString(value);
            if (!unescaped) return std::nullopt;
            exec = std::move(unescaped);
        } else if (key == "Hidden") {
            hidden = isTrue(value);
        }
    }
    if (!exec || hidden) return std::nullopt;
    return firstExecWord(*exec);
}

std::string execValueForProgram(const std::string& program) {
    std::string word;
    for (char c : program) {
        if (c == '%') {
            word += "%%";
        } else {
            word += c;
        }
    }
    if (word.find_first_of(kReserved) != std::string::npos) {
        std::string quoted = "\"";
        for (char c : word) {
            if (kEscapedInQuotes.find(c) != std::string::npos) quoted += '\\';
            quoted += c;
        }
        word = quoted + "\"";
    }
    // Then the string escapes of the file format.
    std::string value;
    for (char c : word) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

std::string desktopEntryForProgram(const std::string& program) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Wirewatch\n"
           "Comment=Keeps this computer off Wi-Fi while it is wired\n"
           "Exec=" +
           execValueForProgram(program) +
           "\n"
           "Icon=wirewatch\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

XdgAutostart::XdgAutostart(std::string folder, std::string searchPath)
    : m_folder(std::move(folder)), m_searchPath(std::move(searchPath)) {}

std::optional<std::string> XdgAutostart::defaultFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/') return std::string(config) + "/autostart";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return std::string(home) + "/.config/autostart";
    return std::nullopt;
}

std::string XdgAutostart::runningProgramPath() {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    buf[n] = '\0';
    // A program replaced on disk while it runs (an upgrade) reads "... (deleted)".
    std::string path = buf;
    const std::string deleted = " (deleted)";
    if (endsWith(path, deleted)) path.resize(path.size() - deleted.size());
    return path;
}

std::unique_ptr<LoginItemsList> XdgAutostart::create() {
    if (m_folder.empty()) return nullptr;
    return std::make_unique<AutostartList>(m_folder, m_searchPath);
}

}  // namespace ww::xdg
