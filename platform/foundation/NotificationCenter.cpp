#include "platform/foundation/NotificationCenter.h"

#include <algorithm>

namespace ww {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter* center = new NotificationCenter();  // used until exit
    return *center;
}

NotificationCenter::Token NotificationCenter::addObserver(std::string name, const void* object,
                                                          Observer observer) {
    std::lock_guard lock(m_mutex);
    Token t = m_next++;
    m_entries.push_back(Entry{t, std::move(name), object, std::move(observer)});
    return t;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_entries, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(const std::string& name, const void* object, plist::Value userInfo) {
    Notification n{name, object, std::move(userInfo)};
    std::vector<Observer> matching;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& e : m_entries) {
            if ((e.name.empty() || e.name == name) && (!e.object || e.object == object)) {
                matching.push_back(e.observer);
            }
        }
    }
    // Outside the lock: an observer may observe or post in turn.
    for (const auto& o : matching) o(n);
}

}  // namespace ww
