#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>

#include "platform/foundation/Plist.h"

namespace ww {

class ManagedPolicy;

// Where the value a read returns comes from.
enum class SettingSource { None, Defaults, Preferences, Policy };
const char* settingSourceName(SettingSource source);

// The user's preferences: one XML property list per user, read at the moment
// of use (an edit made by another process is seen at the next read) and
// written atomically with mode 0600 when flushed: the changes are merged into
// the file as it is then, read afresh under a lock file beside it
// ("<file>.lock"), so that processes sharing it keep each other's changes.
// Registered defaults answer for keys without a stored value; they are held
// in memory only. A managed policy, when one is set, sits above both: a key it
// holds answers every read (the user's own value stays stored, and returns
// when the policy is lifted). Safe to use from several threads.
class UserDefaults {
public:
    // Where the diagnostics of the store go (the console, not the log files,
    // which may not exist yet).
    using Console = std::function<void(const std::string& line)>;

    explicit UserDefaults(std::string path, Console console = {});

    // WIREWATCH_PREFS when set, else $XDG_CONFIG_HOME/wirewatch/preferences.plist
    // (~/.config when XDG_CONFIG_HOME is unset or not absolute).
    static std::string defaultPath();

    const std::string& path() const { return m_path; }

    void registerDefaults(const plist::Value::Dictionary& defaults);

    // The policy's value, else the stored value, else the registered default,
    // else nothing; `source` (when given) says which answered.
    std::optional<plist::Value> objectForKey(const std::string& key,
                                             SettingSource* source = nullptr);
    // Texts as they are, numbers as their decimal text; anything else: nothing.
    std::optional<std::string> stringForKey(const std::string& key);
    // Numbers as integers; texts by their leading decimal number ("-1" is -1,
    // "abc" is 0); booleans 0/1; absent keys 0.
    std::int64_t integerForKey(const std::string& key);
    // Booleans; non-zero numbers; texts starting with Y, y, T, t or a digit 1-9.
    bool boolForKey(const std::string& key);

    // The administrator's policy above the preferences (none: no policy).
    void setManagedPolicy(std::shared_ptr<ManagedPolicy> policy);
    std::shared_ptr<ManagedPolicy> managedPolicy() const;
    // True while the policy holds `key`: the settings window locks its control.
    bool isManaged(const std::string& key);
    // Where a read of `key` would take its value from now.
    SettingSource sourceForKey(const std::string& key);
    // The policy's own value for `key`, never the user's (keys only an
    // administrator may set, such as the exit password hash).
    std::optional<plist::Value> policyValueForKey(const std::string& key);

    void setObject(plist::Value value, const std::string& key);
    void removeObjectForKey(const std::string& key);

    // Writes pending changes (nothing to do when there are none) and picks up
    // outside edits. False when the file could not be written.
    bool synchronize();

    // How many times the file has been written (tests, diagnostics).
    int writeCount() const;

    // While one is alive, the preferences file and the policy are looked at
    // once, by the first read, not at every read: a check reads some thirty
    // keys, and an edit made meanwhile by another process is seen by the next
    // check. The store's own writes are seen at once as ever.
    class OneLook {
    public:
        explicit OneLook(UserDefaults& store);
        ~OneLook();
        OneLook(const OneLook&) = delete;
        OneLook& operator=(const OneLook&) = delete;

    private:
        UserDefaults& m_store;
        std::shared_ptr<ManagedPolicy> m_policy;
    };

private:
    struct Stamp {
        bool exists = false;
        bool regular = false;
        ino_t ino = 0;
        off_t size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const Stamp&) const = default;
    };

    Stamp statFile() const;
    void refreshLocked();
    void loadLocked(bool firstLoad);
    std::optional<plist::Value> lookupLocked(const std::string& key, SettingSource* source);

    std::string m_path;
    Console m_console;
    mutable std::mutex m_mutex;
    bool m_loaded = false;
    int m_oneLookHolds = 0;
    bool m_lookedWhileHeld = false;
    Stamp m_stamp;
    plist::Value::Dictionary m_stored;
    plist::Value::Dictionary m_registered;
    // Changes not yet written: a value, or nothing for a removal.
    std::map<std::string, std::optional<plist::Value>> m_pending;
    int m_writes = 0;
    std::shared_ptr<ManagedPolicy> m_policy;
};

// Integer and boolean readings of a preference value, as the store applies them.
std::int64_t integerValueOf(const plist::Value& value);
bool boolValueOf(const plist::Value& value);

}  // namespace ww
