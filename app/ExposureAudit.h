#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/Clock.h"

namespace ww {

// One interval in which a wired link and Wi-Fi were both up and the agent had
// not yet acted on it.
struct Exposure {
    Clock::WallTime start;
    Clock::WallTime end;
    double seconds = 0;
    // How it ended: "Wi-Fi disconnected by the rule", "Wi-Fi switched off by the
    // rule", "wired link gone", "Wi-Fi gone", "both gone", "agent stopped".
    std::string endedBy;
    // Whether the start is the network change itself (exact) or the last check
    // that saw no exposure (the change came without an event; an upper bound).
    bool startFromChange = false;
};

// One day's figures (local date), as stored and shown.
struct ExposureDay {
    std::string date;  // "2026-12-07"
    int exposures = 0;
    double longestSeconds = 0;
    double totalSeconds = 0;
    std::vector<Exposure> intervals;  // at most kMaxIntervalsPerDay, the latest kept
};

// UTC to the millisecond, as stored: "2026-12-07T09:15:02.061Z".
std::string isoTime(Clock::WallTime t);

// "0 exposures today", "1 exposure today, longest 0.06 s".
std::string exposureSummaryLine(const ExposureDay& day);
// {"date", "exposures", "longest_seconds", "total_seconds"}.
std::string exposureSummaryJson(const ExposureDay& day);

// The exposure audit: measured from the agent's own checks and the network
// change events it hears of. It keeps a rolling daily summary (90 days) as
// JSON lines, one day a line, rewritten atomically whenever an exposure ends;
// an interval still open when the process dies is lost, nothing else.
// Several processes may share the file: each record is added to what the
// file holds at that moment, under a lock file beside it ("<file>.lock"). A
// file that cannot be read or parsed is renamed "<file>.damaged-<time>" and
// the audit starts afresh, never writing over it.
// Thread-safe.
class ExposureAudit {
  public:
    static constexpr int kDaysKept = 90;
    static constexpr std::size_t kMaxIntervalsPerDay = 200;
    static constexpr const char* kFileName = "exposure-audit.jsonl";

    // `path` empty: figures in memory only.
    ExposureAudit(std::string path, const Clock& clock);

    // A network change event was heard (any thread); `at`, when known, is when
    // the change itself happened (the event may be reported later).
    void networkChanged(std::optional<Clock::SteadyTime> at = std::nullopt);
    // What a check found. `lookedAt`: when it started to look, `seen`: when
    // the inventory had finished.
    void observe(bool wired, bool wifi, Clock::SteadyTime lookedAt, Clock::SteadyTime seen);
    // The rules cut Wi-Fi off the network just now: the open exposure ends.
    void actedOn(const std::string& how);
    // The agent stops cleanly: the open exposure ends now.
    void agentStopping();

    // Hears of every exposure as it ends (for the journal), on the thread that
    // ended it, outside the audit's lock.
    void setExposureHandler(std::function<void(const Exposure&)> handler);

    bool isOpen() const;
    ExposureDay today() const;
    std::vector<ExposureDay> days() const;

    // Reads a summary file; lines that do not parse are skipped.
    static std::vector<ExposureDay> readFile(const std::string& path);
    // Reads a summary file whole: no file is no days; nothing (and `why`)
    // when it cannot be read or a line is not a day's record.
    static std::optional<std::vector<ExposureDay>> readWholeFile(const std::string& path,
                                                                 std::string* why = nullptr);
    // The local date of `t` ("2026-12-07").
    static std::string localDate(Clock::WallTime t);

  private:
    struct Open {
        Clock::SteadyTime start;
        bool fromChange;
    };
    Clock::WallTime wallOf(Clock::SteadyTime t) const;
    // Records the open exposure as ended; returns it for the handler.
    Exposure closeLocked(Clock::SteadyTime end, const std::string& why);
    void closeAndTell(std::unique_lock<std::mutex>& lock, Clock::SteadyTime end,
                      const std::string& why);
    // Adds the exposure to the days the file holds now and writes them back.
    void recordLocked(const Exposure& e);
    // The file's days, read under its lock; a damaged file is set aside.
    std::map<std::string, ExposureDay> loadForUpdateLocked();
    // The days as the file holds them now (memory only: the days in memory).
    std::map<std::string, ExposureDay> currentDaysLocked() const;

    const std::string m_path;
    const Clock& m_clock;
    mutable std::mutex m_mutex;
    std::optional<Clock::SteadyTime> m_pendingChange;
    std::optional<Clock::SteadyTime> m_lastLookedAt;  // when the last check began to look
    std::optional<Clock::SteadyTime> m_lastSeen;      // when its inventory had finished
    std::optional<Open> m_open;
    std::map<std::string, ExposureDay> m_days;
    std::function<void(const Exposure&)> m_handler;
};

}  // namespace ww
