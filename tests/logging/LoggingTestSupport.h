#pragma once

// Helpers shared by the logging suites: a recording logger with a gate, a
// clock that can be moved, temporary folders and polling with a deadline.

#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "logging/DDLog.h"
#include "logging/DDLogClock.h"
#include "logging/DDLogger.h"

namespace ww::testing {

// Polls `done` until it holds or the deadline passes; true when it held.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// A logger that records message texts and can hold every logMessage call at
// a gate until the test lets it pass.
class RecordingLogger : public DDAbstractLogger {
  public:
    explicit RecordingLogger(std::string name = "test.recording") : DDAbstractLogger(name) {}

    void logMessage(const DDLogMessage& message) override {
        {
            std::unique_lock lock(m_mutex);
            ++m_entered;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return !m_gateClosed || m_passes > 0; });
            if (m_gateClosed) --m_passes;
        }
        if (m_onMessage) m_onMessage(message);
        std::lock_guard lock(m_mutex);
        m_texts.push_back(message.logMsg());
        m_changed.notify_all();
    }
    void flush() override {
        std::lock_guard lock(m_mutex);
        ++m_flushes;
        m_flushedAt.push_back(m_texts.size());
    }
    void logBatchDidEnd() override { m_batchEnds.fetch_add(1); }

    void closeGate() {
        std::lock_guard lock(m_mutex);
        m_gateClosed = true;
    }
    void openGate() {
        std::lock_guard lock(m_mutex);
        m_gateClosed = false;
        m_changed.notify_all();
    }
    // Lets `n` more messages through a closed gate.
    void pass(int n) {
        std::lock_guard lock(m_mutex);
        m_passes += n;
        m_changed.notify_all();
    }
    // Waits until `n` messages have been recorded.
    bool waitForCount(size_t n, std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_texts.size() >= n; });
    }
    bool waitForEntered(size_t n, std::chrono::seconds limit = std::chrono::seconds(20)) {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, limit, [&] { return m_entered >= n; });
    }
    std::vector<std::string> texts() {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }
    size_t count() {
        std::lock_guard lock(m_mutex);
        return m_texts.size();
    }
    int flushes() {
        std::lock_guard lock(m_mutex);
        return m_flushes;
    }
    std::vector<size_t> flushedAt() {
        std::lock_guard lock(m_mutex);
        return m_flushedAt;
    }
    int batchEnds() const { return m_batchEnds.load(); }
    // Runs on the logger's queue before a message is recorded.
    void onMessage(std::function<void(const DDLogMessage&)> f) { m_onMessage = std::move(f); }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_texts;
    size_t m_entered = 0;
    bool m_gateClosed = false;
    int m_passes = 0;
    int m_flushes = 0;
    std::vector<size_t> m_flushedAt;
    std::atomic<int> m_batchEnds{0};
    std::function<void(const DDLogMessage&)> m_onMessage;
};

// The wall clock moved by an adjustable offset.
class OffsetClock : public DDLogClock {
  public:
    TimePoint now() const override {
        return std::chrono::system_clock::now() + std::chrono::nanoseconds(m_offsetNs.load());
    }
    void setOffset(std::chrono::nanoseconds offset) { m_offsetNs.store(offset.count()); }

  private:
    std::atomic<std::int64_t> m_offsetNs{0};
};

// A fresh folder under the temporary directory, removed at the end.
class TempDir {
  public:
    explicit TempDir(const std::string& base = "") {
        std::string root =
            base.empty() ? (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") : base;
        std::string templ = root + "/wwlog-XXXXXX";
        char* made = ::mkdtemp(templ.data());
        m_path = made ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

  private:
    std::string m_path;
};

// The names in a folder (without "." and ".."), sorted.
inline std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(path.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") names.push_back(n);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Matches text against a shape: '#' is a decimal digit, '%' an upper-case
// hexadecimal digit, '*' any run of characters (also none); everything else
// stands for itself. (std::regex trips GCC 12's warnings in sanitizer builds.)
inline bool matchesShape(std::string_view text, std::string_view shape) {
    if (shape.empty()) return text.empty();
    char c = shape.front();
    if (c == '*') {
        for (size_t k = 0; k <= text.size(); ++k) {
            if (matchesShape(text.substr(k), shape.substr(1))) return true;
        }
        return false;
    }
    if (text.empty()) return false;
    char t = text.front();
    bool ok = c == '#'   ? (t >= '0' && t <= '9')
              : c == '%' ? ((t >= '0' && t <= '9') || (t >= 'A' && t <= 'F'))
                         : t == c;
    return ok && matchesShape(text.substr(1), shape.substr(1));
}

// Empties the core's logger list and waits until that is done, including the
// removed loggers' willRemoveLogger (a file logger rolls its file there).
inline void resetLogCore() {
    auto loggers = DDLog::allLoggers();
    DDLog::removeAllLoggers();
    DDLog::flushLog();
    for (const auto& logger : loggers) {
        if (auto queue = logger->loggerQueue()) queue->sync([] {});
    }
}

}  // namespace ww::testing
