#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Plist.h"

namespace ww {

// The administrator's policy: a property list that fixes some settings for
// every user of the machine. It is honoured only when the file is owned by
// root (the required owner) and not writable by group or others; anything
// else is ignored, with one console line saying why. Like the preferences it
// is looked at again whenever the file changes (identity, size, times, owner
// or mode); a file that cannot be read or holds a wrong value keeps the
// policy last read, and a file that goes away lifts the policy. Safe to use
// from several threads.
class ManagedPolicy {
  public:
    static constexpr const char* kDefaultPath = "/etc/wirewatch/policy.plist";

    // Where the policy's diagnostics go.
    using Console = std::function<void(const std::string& line)>;

    // The keys a policy may hold; any other key makes the file damaged.
    static const std::vector<std::string>& knownKeys();

    // `requiredOwner` is root outside tests.
    explicit ManagedPolicy(std::string path, Console console = {}, uid_t requiredOwner = 0);

    // WIREWATCH_POLICY when set, else kDefaultPath.
    static std::string defaultPath();

    const std::string& path() const { return m_path; }

    // The policy in force, after a look at the file (re-read only when it changed).
    plist::Value::Dictionary current();
    std::optional<plist::Value> valueForKey(const std::string& key);

    // Bumped each time a different policy comes into force (also when one is
    // lifted): a caller that remembers it notices changes.
    std::uint64_t generation();

    void setConsole(Console console);

    // While held, the file is looked at once (by the first read) and not at
    // every read; see UserDefaults::OneLook.
    void holdOneLook();
    void releaseOneLook();

  private:
    struct Stamp {
        bool exists = false;
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = 0;
        std::int64_t mtimeNs = 0;
        std::int64_t ctimeNs = 0;
        uid_t uid = 0;
        mode_t mode = 0;
        bool operator==(const Stamp&) const = default;
    };

    Stamp statFile() const;
    void refreshLocked();
    void loadLocked();
    void applyLocked(plist::Value::Dictionary next);
    void say(const std::string& line);

    std::string m_path;
    Console m_console;
    uid_t m_requiredOwner;
    std::mutex m_mutex;
    bool m_looked = false;
    int m_oneLookHolds = 0;
    bool m_lookedWhileHeld = false;
    Stamp m_stamp;
    plist::Value::Dictionary m_inForce;
    std::uint64_t m_generation = 0;
};

}  // namespace ww
