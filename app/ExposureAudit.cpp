#include "app/ExposureAudit.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>

#include "logging/DDLog.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"

namespace ww {

namespace {

using Json = nlohmann::json;

}  // namespace

std::string isoTime(Clock::WallTime t) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", buf, static_cast<int>(ms % 1000));
    return out;
}

namespace {

std::optional<Clock::WallTime> parseIsoTime(const std::string& s) {
    std::tm tm{};
    int ms = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &ms) != 7) {
        return std::nullopt;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return std::chrono::system_clock::from_time_t(timegm(&tm)) + std::chrono::milliseconds(ms);
}

// Seconds to the millisecond, as stored.
double rounded(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

Json toJson(const ExposureDay& day) {
    Json intervals = Json::array();
    for (const auto& e : day.intervals) {
        intervals.push_back({{"start", isoTime(e.start)},
                             {"end", isoTime(e.end)},
                             {"seconds", rounded(e.seconds)},
                             {"ended_by", e.endedBy},
                             {"start_from_change", e.startFromChange}});
    }
    return {{"date", day.date},
            {"exposures", day.exposures},
            {"longest_seconds", rounded(day.longestSeconds)},
            {"total_seconds", rounded(day.totalSeconds)},
            {"intervals", intervals}};
}

std::optional<ExposureDay> fromJson(const Json& j) {
    if (!j.is_object() || !j.contains("date") || !j["date"].is_string() ||
        !j.contains("exposures") || !j["exposures"].is_number_integer()) {
        return std::nullopt;
    }
    ExposureDay day;
    day.date = j["date"].get<std::string>();
    day.exposures = j["exposures"].get<int>();
    if (j.contains("longest_seconds") && j["longest_seconds"].is_number()) {
        day.longestSeconds = j["longest_seconds"].get<double>();
    }
    if (j.contains("total_seconds") && j["total_seconds"].is_number()) {
        day.totalSeconds = j["total_seconds"].get<double>();
    }
    if (j.contains("intervals") && j["intervals"].is_array()) {
        for (const auto& i : j["intervals"]) {
            if (!i.is_object()) continue;
            Exposure e;
            auto start = i.contains("start") && i["start"].is_string()
                             ? parseIsoTime(i["start"].get<std::string>())
                             : std::nullopt;
            auto end = i.contains("end") && i["end"].is_string()
                           ? parseIsoTime(i["end"].get<std::string>())
                           : std::nullopt;
            if (!start || !end) continue;
            e.start = *start;
            e.end = *end;
            if (i.contains("seconds") && i["seconds"].is_number()) e.seconds = i["seconds"];
            if (i.contains("ended_by") && i["ended_by"].is_string()) e.endedBy = i["ended_by"];
            if (i.contains("start_from_change") && i["start_from_change"].is_boolean()) {
                e.startFromChange = i["start_from_change"];
            }
            day.intervals.push_back(std::move(e));
        }
    }
    return day;
}

std::string dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

}  // namespace

std::string exposureSummaryLine(const ExposureDay& day) {
    std::string line = std::to_string(day.exposures) +
                       (day.exposures == 1 ? " exposure today" : " exposures today");
    if (day.exposures > 0) {
        char buf[64];
        std::snprintf(buf, sizeof buf, ", longest %.2f s", day.longestSeconds);
        line += buf;
    }
    return line;
}

std::string exposureSummaryJson(const ExposureDay& day) {
    Json j = {{"date", day.date},
              {"exposures", day.exposures},
              {"longest_seconds", rounded(day.longestSeconds)},
              {"total_seconds", rounded(day.totalSeconds)}};
    return j.dump(2) + "\n";
}

std::string ExposureAudit::localDate(Clock::WallTime t) { return localTimeText(t, "%Y-%m-%d"); }

namespace {

// The day records in an audit file's text. Strict: nothing, with why, at the
// first line that is not a day's record; otherwise such lines are skipped.
std::optional<std::vector<ExposureDay>> parseDays(std::string_view text, bool strict,
                                                  std::string& why) {
    std::vector<ExposureDay> days;
    int number = 0;
    for (std::string_view line : text::splitLines(text)) {
        ++number;
        if (text::trim(line).empty()) continue;
        Json j = Json::parse(line, nullptr, false);
        auto day = j.is_discarded() ? std::nullopt : fromJson(j);
        if (day) {
            days.push_back(std::move(*day));
        } else if (strict) {
            why = "line " + std::to_string(number) + " is not a day's record";
            return std::nullopt;
        }
    }
    return days;
}

std::map<std::string, ExposureDay> byDate(std::vector<ExposureDay> days) {
    std::map<std::string, ExposureDay> out;
    for (auto& day : days) out[day.date] = std::move(day);
    return out;
}

}  // namespace

std::vector<ExposureDay> ExposureAudit::readFile(const std::string& path) {
    auto text = file::readAll(path);
    std::string ignored;
    return text ? *parseDays(*text, false, ignored) : std::vector<ExposureDay>{};
}

std::optional<std::vector<ExposureDay>> ExposureAudit::readWholeFile(const std::string& path,
                                                                     std::string* why) {
    std::string ignored;
    std::string& reason = why ? *why : ignored;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT) return std::vector<ExposureDay>{};
        reason = std::strerror(errno);
        return std::nullopt;
    }
    // 90 days of at most 200 intervals stay well below this.
    constexpr off_t kMaxBytes = 64 * 1024 * 1024;
    if (!S_ISREG(st.st_mode)) {
        reason = "not a regular file";
        return std::nullopt;
    }
    if (st.st_size > kMaxBytes) {
        reason = "larger than 64 MiB";
        return std::nullopt;
    }
    auto text = file::readAll(path, &reason);
    if (!text) return std::nullopt;
    return parseDays(*text, true, reason);
}

ExposureAudit::ExposureAudit(std::string path, const Clock& clock)
    : m_path(std::move(path)), m_clock(clock) {
    if (m_path.empty()) return;
    std::lock_guard lock(m_mutex);
    // Under the file's lock: another process may be setting a damaged file aside too.
    auto fileLock = file::FileLock::acquire(m_path + ".lock", file::FileLock::Wait::Block);
    m_days = loadForUpdateLocked();
}

std::map<std::string, ExposureDay> ExposureAudit::loadForUpdateLocked() {
    std::string why;
    auto days = readWholeFile(m_path, &why);
    if (!days) {
        // Keep what the user had for inspection; a rewrite would lose it.
        std::string aside =
            m_path + ".damaged-" + localTimeText(m_clock.wallNow(), "%Y%m%d-%H%M%S");
        if (::rename(m_path.c_str(), aside.c_str()) == 0) {
            WWLogError(
                "AppDelegate: the exposure audit %@ could not be read (%@); kept it as %@ "
                "and started a new one",
                m_path, why, aside);
        } else {
            WWLogError(
                "AppDelegate: the exposure audit %@ could not be read (%@) nor set aside: "
                "%@",
                m_path, why, std::strerror(errno));
        }
        return {};
    }
    return byDate(std::move(*days));
}

std::map<std::string, ExposureDay> ExposureAudit::currentDaysLocked() const {
    if (m_path.empty()) return m_days;
    // Another process may have added records since; a file being replaced
    // is read whole or not at all.
    auto days = readWholeFile(m_path);
    return days ? byDate(std::move(*days)) : m_days;
}

Clock::WallTime ExposureAudit::wallOf(Clock::SteadyTime t) const {
    return m_clock.wallNow() -
           std::chrono::duration_cast<Clock::WallTime::duration>(m_clock.now() - t);
}

void ExposureAudit::networkChanged(std::optional<Clock::SteadyTime> at) {
    auto now = m_clock.now();
    std::lock_guard lock(m_mutex);
    // A moment from the future is no better than the report itself; one from
    // before the last check began was seen by that check.
    if (!at || *at > now) at = now;
    if (m_lastLookedAt && *at < *m_lastLookedAt) at = *m_lastLookedAt;
    m_pendingChange = *at;
}

void ExposureAudit::observe(bool wired, bool wifi, Clock::SteadyTime lookedAt,
                            Clock::SteadyTime seen) {
    std::unique_lock lock(m_mutex);
    // A change heard before the inventory finished may be what it saw. One
    // that this check did not find to matter stays for the next check when it
    // came after this one began looking (the tools may have run before it),
    // and is dropped otherwise.
    std::optional<Clock::SteadyTime> change;
    if (m_pendingChange && *m_pendingChange <= seen) change = m_pendingChange;
    const bool both = wired && wifi;
    const auto previousSeen = m_lastSeen;
    m_lastLookedAt = lookedAt;
    m_lastSeen = seen;
    if (both && !m_open) {
        if (change) {
            m_open = Open{*change, true};
            m_pendingChange.reset();
        } else {
            // No event: it began after the last look that saw none.
            m_open = Open{previousSeen.value_or(lookedAt), false};
        }
    } else if (!both && m_open) {
        const char* why = !wired && !wifi ? "both gone" : !wired ? "wired link gone" : "Wi-Fi gone";
        if (change) m_pendingChange.reset();
        closeAndTell(lock, change.value_or(lookedAt), why);
    } else if (m_pendingChange && *m_pendingChange <= lookedAt) {
        m_pendingChange.reset();
    }
}

void ExposureAudit::actedOn(const std::string& how) {
    auto now = m_clock.now();
    std::unique_lock lock(m_mutex);
    // Whatever a later check finds began after this moment.
    m_lastSeen = now;
    if (m_open) closeAndTell(lock, now, how);
}

void ExposureAudit::agentStopping() {
    auto now = m_clock.now();
    std::unique_lock lock(m_mutex);
    if (m_open) closeAndTell(lock, now, "agent stopped");
}

bool ExposureAudit::isOpen() const {
    std::lock_guard lock(m_mutex);
    return m_open.has_value();
}

void ExposureAudit::setExposureHandler(std::function<void(const Exposure&)> handler) {
    std::lock_guard lock(m_mutex);
    m_handler = std::move(handler);
}

void ExposureAudit::closeAndTell(std::unique_lock<std::mutex>& lock, Clock::SteadyTime end,
                                 const std::string& why) {
    Exposure e = closeLocked(end, why);
    auto handler = m_handler;
    lock.unlock();
    if (handler) handler(e);
}

Exposure ExposureAudit::closeLocked(Clock::SteadyTime end, const std::string& why) {
    Exposure e;
    if (end < m_open->start) end = m_open->start;
    e.start = wallOf(m_open->start);
    e.end = wallOf(end);
    e.seconds = std::chrono::duration<double>(end - m_open->start).count();
    e.endedBy = why;
    e.startFromChange = m_open->fromChange;
    m_open.reset();
    recordLocked(e);
    return e;
}

void ExposureAudit::recordLocked(const Exposure& e) {
    // Another agent process may share the file: add to what it holds now.
    std::unique_ptr<file::FileLock> fileLock;
    if (!m_path.empty()) {
        std::string why;
        fileLock = file::FileLock::acquire(m_path + ".lock", file::FileLock::Wait::Block, &why);
        if (!fileLock) WWLogError("AppDelegate: the exposure audit is not locked: %@", why);
        m_days = loadForUpdateLocked();
    }
    // Filed on the day it ended, where "today" counts it the moment it ends
    // (one across midnight counts for the new day).
    const std::string date = localDate(e.end);
    ExposureDay& day = m_days[date];
    day.date = date;
    day.exposures += 1;
    day.totalSeconds += e.seconds;
    if (e.seconds > day.longestSeconds) day.longestSeconds = e.seconds;
    day.intervals.push_back(e);
    if (day.intervals.size() > kMaxIntervalsPerDay) day.intervals.erase(day.intervals.begin());
    // Only the last 90 days are kept.
    auto cutoff = localDate(m_clock.wallNow() - std::chrono::hours(24) * (kDaysKept - 1));
    std::erase_if(m_days, [&](const auto& d) { return d.first < cutoff; });
    if (m_path.empty()) return;
    std::string out;
    for (const auto& [date, day] : m_days) out += dump(toJson(day)) + "\n";
    std::string error;
    if (!file::writeAtomically(m_path, out, 0600, &error)) {
        WWLogError("AppDelegate: the exposure audit could not be written to %@: %@", m_path, error);
    }
}

ExposureDay ExposureAudit::today() const {
    std::lock_guard lock(m_mutex);
    ExposureDay day;
    day.date = localDate(m_clock.wallNow());
    auto days = currentDaysLocked();
    if (auto it = days.find(day.date); it != days.end()) day = it->second;
    return day;
}

std::vector<ExposureDay> ExposureAudit::days() const {
    std::lock_guard lock(m_mutex);
    std::vector<ExposureDay> out;
    for (const auto& [date, day] : currentDaysLocked()) out.push_back(day);
    return out;
}

}  // namespace ww
