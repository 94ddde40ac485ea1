#include "app/UserDefaults.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/ManagedPolicy.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Format.h"

namespace ww {

namespace {

std::string envOrEmpty(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

std::string timestampForName() {
    std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d-%H%M%S", &tm);
    return buf;
}

}  // namespace

const char* settingSourceName(SettingSource source) {
    switch (source) {
        case SettingSource::Policy: return "policy";
        case SettingSource::Preferences: return "preferences";
        case SettingSource::Defaults: return "defaults";
        case SettingSource::None: break;
    }
    return "unset";
}

std::int64_t integerValueOf(const plist::Value& value) {
    if (const std::string* s = value.stringValue()) {
        // Leading blanks, a sign, then digits; the rest is ignored. Out of range
        // clamps, as the platform's reading does.
        size_t i = 0;
        while (i < s->size() && ((*s)[i] == ' ' || (*s)[i] == '\t' || (*s)[i] == '\n')) ++i;
        bool negative = false;
        if (i < s->size() && ((*s)[i] == '+' || (*s)[i] == '-')) negative = (*s)[i++] == '-';
        std::uint64_t magnitude = 0;
        bool overflow = false;
        for (; i < s->size() && (*s)[i] >= '0' && (*s)[i] <= '9'; ++i) {
            if (magnitude > (UINT64_MAX - 9) / 10) {
                overflow = true;
                break;
            }
            magnitude = magnitude * 10 + static_cast<std::uint64_t>((*s)[i] - '0');
        }
        if (negative) {
            if (overflow || magnitude > static_cast<std::uint64_t>(INT64_MAX) + 1) return INT64_MIN;
            return magnitude == static_cast<std::uint64_t>(INT64_MAX) + 1
                       ? INT64_MIN
                       : -static_cast<std::int64_t>(magnitude);
        }
        if (overflow || magnitude > static_cast<std::uint64_t>(INT64_MAX)) return INT64_MAX;
        return static_cast<std::int64_t>(magnitude);
    }
    return value.integerValue().value_or(0);
}

bool boolValueOf(const plist::Value& value) {
    if (const std::string* s = value.stringValue()) {
        size_t i = 0;
        while (i < s->size() && ((*s)[i] == ' ' || (*s)[i] == '\t' || (*s)[i] == '\n')) ++i;
        if (i < s->size() && ((*s)[i] == '+' || (*s)[i] == '-')) ++i;
        while (i < s->size() && (*s)[i] == '0') ++i;
        if (i >= s->size()) return false;
        char c = (*s)[i];
        return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
    }
    return value.boolValue().value_or(false);
}

UserDefaults::UserDefaults(std::string path, Console console)
    : m_path(std::move(path)), m_console(std::move(console)) {
    if (!m_console) {
        m_console = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    }
}

std::string UserDefaults::defaultPath() {
    std::string explicitPath = envOrEmpty("WIREWATCH_PREFS");
    if (!explicitPath.empty()) return explicitPath;
    std::string base = envOrEmpty("XDG_CONFIG_HOME");
    if (base.empty() || base[0] != '/') {
        std::string home = envOrEmpty("HOME");
        base = (home.empty() ? std::string("/tmp") : home) + "/.config";
    }
    return base + "/wirewatch/preferences.plist";
}

UserDefaults::Stamp UserDefaults::statFile() const {
    struct stat st {};
    if (::stat(m_path.c_str(), &st) != 0) return Stamp{};
    return Stamp{true, S_ISREG(st.st_mode), st.st_ino, st.st_size,
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void UserDefaults::loadLocked(bool firstLoad) {
    m_stamp = statFile();
    if (!m_stamp.exists) {
        m_stored.clear();
        return;
    }
    std::string why;
    std::optional<std::string> bytes;
    // Preferences are a few hundred bytes; a huge file is no preferences file
    // and must not be read into memory whole.
    constexpr off_t kMaxBytes = 16 * 1024 * 1024;
    if (!m_stamp.regular) {
        // A FIFO or a device would be read for ever (main() refuses one at start).
        why = "not a regular file";
    } else if (m_stamp.size > kMaxBytes) {
        why = "larger than 16 MiB";
    } else {
        bytes = file::readAll(m_path, &why);
    }
    std::optional<plist::Value> parsed;
    if (bytes) {
        parsed = plist::parse(*bytes, &why);
        if (parsed && !parsed->isDictionary()) {
            parsed.reset();
            why = "the root is not a dictionary";
        }
    }
    if (parsed) {
        m_stored = *parsed->dictionaryValue();
        return;
    }
    if (firstLoad && m_stamp.regular) {
        // Start from an empty store, but keep the user's file for inspection.
        std::string aside = m_path + ".damaged-" + timestampForName();
        if (::rename(m_path.c_str(), aside.c_str()) == 0) {
            m_console(ww::format("Preferences %@ could not be read (%@); kept it as %@ and started "
                                 "from empty preferences.",
                                 m_path, why, aside));
            m_stamp = Stamp{};
        } else {
            m_console(ww::format("Preferences %@ could not be read (%@); started from empty "
                                 "preferences.",
                                 m_path, why));
        }
        m_stored.clear();
    } else {
        // Probably an editor half-way through writing: keep what we had and
        // look again at the next read.
        m_console(ww::format("Preferences %@ could not be read (%@); keeping the previous values.",
                             m_path, why));
    }
}

UserDefaults::OneLook::OneLook(UserDefaults& store)
    : m_store(store), m_policy(store.managedPolicy()) {
    std::lock_guard lock(m_store.m_mutex);
    ++m_store.m_oneLookHolds;
    if (m_policy) m_policy->holdOneLook();
}

UserDefaults::OneLook::~OneLook() {
    std::lock_guard lock(m_store.m_mutex);
    if (--m_store.m_oneLookHolds == 0) m_store.m_lookedWhileHeld = false;
    if (m_policy) m_policy->releaseOneLook();
}

void UserDefaults::refreshLocked() {
    if (m_oneLookHolds > 0) {
        if (m_lookedWhileHeld) return;
        m_lookedWhileHeld = true;
    }
    if (!m_loaded) {
        loadLocked(true);
        m_loaded = true;
        return;
    }
    if (statFile() == m_stamp) return;
    loadLocked(false);
}

std::optional<plist::Value> UserDefaults::lookupLocked(const std::string& key,
                                                      SettingSource* source) {
    SettingSource ignored;
    SettingSource& from = source ? *source : ignored;
    if (m_policy) {
        if (auto v = m_policy->valueForKey(key)) {
            from = SettingSource::Policy;
            return v;
        }
    }
    refreshLocked();
    from = SettingSource::Preferences;
    if (auto p = m_pending.find(key); p != m_pending.end()) {
        if (p->second) return p->second;
    } else if (auto s = m_stored.find(key); s != m_stored.end()) {
        return s->second;
    }
    from = SettingSource::Defaults;
    if (auto r = m_registered.find(key); r != m_registered.end()) return r->second;
    from = SettingSource::None;
    return std::nullopt;
}

void UserDefaults::setManagedPolicy(std::shared_ptr<ManagedPolicy> policy) {
    std::lock_guard lock(m_mutex);
    m_policy = std::move(policy);
}

std::shared_ptr<ManagedPolicy> UserDefaults::managedPolicy() const {
    std::lock_guard lock(m_mutex);
    return m_policy;
}

bool UserDefaults::isManaged(const std::string& key) {
    return sourceForKey(key) == SettingSource::Policy;
}

SettingSource UserDefaults::sourceForKey(const std::string& key) {
    SettingSource source = SettingSource::None;
    objectForKey(key, &source);
    return source;
}

std::optional<plist::Value> UserDefaults::policyValueForKey(const std::string& key) {
    std::shared_ptr<ManagedPolicy> policy = managedPolicy();
    return policy ? policy->valueForKey(key) : std::nullopt;
}

void UserDefaults::registerDefaults(const plist::Value::Dictionary& defaults) {
    std::lock_guard lock(m_mutex);
    for (const auto& [k, v] : defaults) m_registered[k] = v;
}

std::optional<plist::Value> UserDefaults::objectForKey(const std::string& key,
                                                      SettingSource* source) {
    std::lock_guard lock(m_mutex);
    return lookupLocked(key, source);
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) {
    auto v = objectForKey(key);
    if (!v) return std::nullopt;
    if (const std::string* s = v->stringValue()) return *s;
    if (v->type() == plist::Value::Type::Integer) return std::to_string(*v->integerValue());
    if (v->type() == plist::Value::Type::Real) return ww::format("%g", *v->realValue());
    return std::nullopt;
}

std::int64_t UserDefaults::integerForKey(const std::string& key) {
    auto v = objectForKey(key);
    return v ? integerValueOf(*v) : 0;
}

bool UserDefaults::boolForKey(const std::string& key) {
    auto v = objectForKey(key);
    return v ? boolValueOf(*v) : false;
}

void UserDefaults::setObject(plist::Value value, const std::string& key) {
    std::lock_guard lock(m_mutex);
    refreshLocked();
    m_pending[key] = std::move(value);
}

void UserDefaults::removeObjectForKey(const std::string& key) {
    std::lock_guard lock(m_mutex);
    refreshLocked();
    m_pending[key] = std::nullopt;
}

bool UserDefaults::synchronize() {
    std::lock_guard lock(m_mutex);
    if (m_pending.empty()) {
        refreshLocked();
        return true;
    }
    std::string why;
    if (!file::makeDirectories(file::dirName(m_path), &why)) {
        m_console(ww::format("Preferences could not be saved: %@", why));
        return false;
    }
    // Another process (a second agent, --once) may write the file too: merge
    // into what it holds now, read afresh under the lock file beside it.
    auto fileLock = file::FileLock::acquire(m_path + ".lock", file::FileLock::Wait::Block, &why);
    if (!fileLock) m_console(ww::format("Preferences are saved without a lock: %@", why));
    loadLocked(!m_loaded);
    m_loaded = true;
    plist::Value::Dictionary next = m_stored;
    for (const auto& [k, v] : m_pending) {
        if (v) {
            next[k] = *v;
        } else {
            next.erase(k);
        }
    }
    if (!file::writeAtomically(m_path, plist::toXml(plist::Value::dictionary(next)), 0600, &why)) {
        m_console(ww::format("Preferences could not be saved: %@", why));
        return false;
    }
    m_stored = std::move(next);
    m_pending.clear();
    m_stamp = statFile();
    ++m_writes;
    return true;
}

int UserDefaults::writeCount() const {
    std::lock_guard lock(m_mutex);
    return m_writes;
}

}  // namespace ww
