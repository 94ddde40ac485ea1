#include "app/RuleGuards.h"

namespace ww {

namespace {

class SystemClock : public Clock {
  public:
    SteadyTime now() const override { return std::chrono::steady_clock::now(); }
    WallTime wallNow() const override { return std::chrono::system_clock::now(); }
};

}  // namespace

Clock& Clock::system() {
    static SystemClock clock;
    return clock;
}

bool RuleGuards::wiredForRules(bool wired, std::chrono::seconds grace, Event* event) {
    const auto now = m_clock.now();
    if (event) *event = Event::None;
    if (!m_wired || *m_wired != wired) {
        // The agent's first look counts as a change too: nothing is known of
        // the time before it.
        m_lastWiredChange = now;
        if (wired) m_wiredSince = now;
        m_wired = wired;
    }
    if (m_damping && now - m_lastWiredChange >= kFlapWindow) {
        m_damping = false;
        m_actions.clear();
        m_last = Direction::None;
        if (event) *event = Event::DampingReleased;
    }
    if (!wired) return false;
    return grace.count() <= 0 || now - m_wiredSince >= grace;
}

void RuleGuards::forgetOldActions() {
    const auto now = m_clock.now();
    while (!m_actions.empty() && now - m_actions.front() >= kFlapWindow) m_actions.pop_front();
}

bool RuleGuards::count(Direction d, int flapLimit) {
    if (flapLimit <= 0 || d == m_last) {
        m_last = d;
        return false;
    }
    m_last = d;
    forgetOldActions();
    m_actions.push_back(m_clock.now());
    return true;
}

bool RuleGuards::noteCut(int flapLimit) {
    if (!count(Direction::Cut, flapLimit)) return false;
    if (!m_damping && static_cast<int>(m_actions.size()) >= flapLimit) {
        m_damping = true;
        return true;
    }
    return false;
}

bool RuleGuards::mayRestore(int flapLimit, bool* engaged) {
    if (engaged) *engaged = false;
    if (m_damping) return false;
    if (flapLimit <= 0 || m_last == Direction::Restore) return true;
    forgetOldActions();
    if (static_cast<int>(m_actions.size()) + 1 >= flapLimit) {
        m_damping = true;
        if (engaged) *engaged = true;
        return false;
    }
    return true;
}

void RuleGuards::noteRestore(int flapLimit) { count(Direction::Restore, flapLimit); }

std::optional<Clock::SteadyTime> RuleGuards::nextDeadline(std::chrono::seconds grace) const {
    std::optional<Clock::SteadyTime> next;
    const auto now = m_clock.now();
    if (m_wired && *m_wired && grace.count() > 0 && now - m_wiredSince < grace) {
        next = m_wiredSince + grace;
    }
    if (m_damping) {
        auto release = m_lastWiredChange + kFlapWindow;
        if (!next || release < *next) next = release;
    }
    return next;
}

}  // namespace ww
