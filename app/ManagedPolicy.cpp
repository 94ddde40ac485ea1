#include "app/ManagedPolicy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/Format.h"

namespace ww {

namespace {

bool isNumberText(const plist::Value& v) {
    if (v.type() == plist::Value::Type::Integer) return true;
    const std::string* s = v.stringValue();
    if (!s || s->empty()) return false;
    size_t i = (*s)[0] == '-' || (*s)[0] == '+' ? 1 : 0;
    if (i == s->size()) return false;
    for (; i < s->size(); ++i) {
        if ((*s)[i] < '0' || (*s)[i] > '9') return false;
    }
    return true;
}

// Why a value cannot stand under its key, or empty when it can.
std::string badValue(const std::string& key, const plist::Value& v) {
    if (key == "selectedInterfaceOption" || key == "enableWireless" || key == "loadOnStartUp") {
        return isNumberText(v) ? "" : key + " must be a whole number (as text or integer)";
    }
    if (key == "WiredGraceSeconds" || key == "FlapLimit") {
        return isNumberText(v) ? "" : key + " must be a whole number (as text or integer)";
    }
    if (key == "InterfaceOverrides") {
        if (!v.isDictionary()) return key + " must be a dictionary";
        for (const auto& [name, word] : *v.dictionaryValue()) {
            const std::string* s = word.stringValue();
            if (!s || (*s != "wired" && *s != "ignore")) {
                return key + ": " + name + " must be \"wired\" or \"ignore\"";
            }
        }
        return "";
    }
    if (key == "DisableUSBConnectedPersonalHotspot" || key == "AuditToJournal" ||
        key == "NotifyWiFiCut" || key == "NotifyWarningState" || key == "NotifyHotspotDisabled" ||
        key == "NotifyFlapDamping") {
        return v.type() == plist::Value::Type::Boolean ? "" : key + " must be a boolean";
    }
    if (key == "ExitPasswordHash") {
        const std::string* s = v.stringValue();
        return s && s->rfind("$argon2id$", 0) == 0
                   ? ""
                   : key + " must be an argon2id hash from wirewatch --hash-password";
    }
    return key + " is not a policy key";
}

std::string ownerText(uid_t uid) { return std::to_string(static_cast<unsigned long>(uid)); }

}  // namespace

const std::vector<std::string>& ManagedPolicy::knownKeys() {
    static const std::vector<std::string> kKeys = {
        "selectedInterfaceOption", "enableWireless",   "DisableUSBConnectedPersonalHotspot",
        "loadOnStartUp",           "ExitPasswordHash", "AuditToJournal",
        "InterfaceOverrides",      "WiredGraceSeconds", "FlapLimit",
        "NotifyWiFiCut",           "NotifyWarningState", "NotifyHotspotDisabled",
        "NotifyFlapDamping"};
    return kKeys;
}

ManagedPolicy::ManagedPolicy(std::string path, Console console, uid_t requiredOwner)
    : m_path(std::move(path)), m_console(std::move(console)), m_requiredOwner(requiredOwner) {}

std::string ManagedPolicy::defaultPath() {
    const char* env = std::getenv("WIREWATCH_POLICY");
    return env && *env ? std::string(env) : std::string(kDefaultPath);
}

void ManagedPolicy::setConsole(Console console) {
    std::lock_guard lock(m_mutex);
    m_console = std::move(console);
}

void ManagedPolicy::say(const std::string& line) {
    if (m_console) {
        m_console(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

ManagedPolicy::Stamp ManagedPolicy::statFile() const {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) return Stamp{};
    return Stamp{true,
                 st.st_dev,
                 st.st_ino,
                 st.st_size,
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                 static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec,
                 st.st_uid,
                 st.st_mode};
}

void ManagedPolicy::applyLocked(plist::Value::Dictionary next) {
    if (next == m_inForce) return;
    m_inForce = std::move(next);
    ++m_generation;
}

void ManagedPolicy::loadLocked() {
    const bool hadPolicy = !m_inForce.empty();
    if (!m_stamp.exists) {
        if (hadPolicy) say(format("Policy %@ is gone; no policy applies now.", m_path));
        applyLocked({});
        return;
    }
    // Owner and mode are judged on the file that is then read, so that a
    // file swapped in between cannot slip through.
    int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        int e = errno;
        if (fd >= 0) ::close(fd);
        say(format("Policy %@ could not be read (%@); keeping the policy in force.", m_path,
                   std::strerror(e)));
        return;
    }
    std::string refusal;
    if (!S_ISREG(st.st_mode)) {
        refusal = "it is not a regular file";
    } else if (st.st_uid != m_requiredOwner) {
        refusal = "it is owned by uid " + ownerText(st.st_uid) + ", not by root";
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        refusal = format("group or others may write it (mode %@)", std::string(mode));
    }
    if (!refusal.empty()) {
        ::close(fd);
        say(format("Policy %@ is ignored: %@.", m_path, refusal));
        applyLocked({});
        return;
    }

    // A policy is a few hundred bytes; anything huge is no policy.
    constexpr off_t kMaxBytes = 1024 * 1024;
    std::string bytes, why;
    if (st.st_size > kMaxBytes) {
        why = "larger than 1 MiB";
    } else {
        char buf[8192];
        for (;;) {
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                why = std::strerror(errno);
                break;
            }
            if (n == 0) break;
            bytes.append(buf, static_cast<size_t>(n));
            if (static_cast<off_t>(bytes.size()) > kMaxBytes) {
                why = "larger than 1 MiB";
                break;
            }
        }
    }
    ::close(fd);
    std::optional<plist::Value> parsed;
    if (why.empty()) {
        parsed = plist::parse(bytes, &why);
        if (parsed && !parsed->isDictionary()) {
            parsed.reset();
            why = "the root is not a dictionary";
        }
    }
    if (parsed) {
        for (const auto& [key, value] : *parsed->dictionaryValue()) {
            if (std::string bad = badValue(key, value); !bad.empty()) {
                parsed.reset();
                why = bad;
                break;
            }
        }
    }
    if (!parsed) {
        say(format(hadPolicy ? "Policy %@ is damaged (%@); keeping the policy last read."
                             : "Policy %@ is damaged (%@); no policy applies.",
                   m_path, why));
        return;
    }
    plist::Value::Dictionary next = *parsed->dictionaryValue();
    if (next != m_inForce) {
        std::string keys;
        for (const auto& [key, value] : next) keys += (keys.empty() ? "" : ", ") + key;
        say(format("Policy %@ applies: %@.", m_path, keys.empty() ? std::string("no keys") : keys));
    }
    applyLocked(std::move(next));
}

void ManagedPolicy::holdOneLook() {
    std::lock_guard lock(m_mutex);
    ++m_oneLookHolds;
}

void ManagedPolicy::releaseOneLook() {
    std::lock_guard lock(m_mutex);
    if (--m_oneLookHolds == 0) m_lookedWhileHeld = false;
}

void ManagedPolicy::refreshLocked() {
    if (m_oneLookHolds > 0) {
        if (m_lookedWhileHeld) return;
        m_lookedWhileHeld = true;
    }
    Stamp now = statFile();
    if (m_looked && now == m_stamp) return;
    m_looked = true;
    m_stamp = now;
    loadLocked();
}

plist::Value::Dictionary ManagedPolicy::current() {
    std::lock_guard lock(m_mutex);
    refreshLocked();
    return m_inForce;
}

std::optional<plist::Value> ManagedPolicy::valueForKey(const std::string& key) {
    std::lock_guard lock(m_mutex);
    refreshLocked();
    auto it = m_inForce.find(key);
    if (it == m_inForce.end()) return std::nullopt;
    return it->second;
}

std::uint64_t ManagedPolicy::generation() {
    std::lock_guard lock(m_mutex);
    refreshLocked();
    return m_generation;
}

}  // namespace ww
