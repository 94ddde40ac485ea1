#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/foundation/Plist.h"

namespace ww {

struct Notification {
    std::string name;
    const void* object = nullptr;
    plist::Value userInfo;
};

// Observers keyed by notification name and sender. Posting is synchronous:
// every matching observer runs on the posting thread before `post` returns.
class NotificationCenter {
public:
    using Observer = std::function<void(const Notification&)>;
    using Token = std::uint64_t;

    static NotificationCenter& defaultCenter();

    // An empty name observes every notification; a null object every sender.
    Token addObserver(std::string name, const void* object, Observer observer);
    void removeObserver(Token token);
    void post(const std::string& name, const void* object, plist::Value userInfo = {});

private:
    struct Entry {
        Token token;
        std::string name;
        const void* object;
        Observer observer;
    };
    std::mutex m_mutex;
    std::vector<Entry> m_entries;
    Token m_next = 1;
};

}  // namespace ww
