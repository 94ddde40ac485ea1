#pragma once

// Helpers for every suite: temporary folders, file contents, polling with a
// deadline and a gate a task can be held at.

#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ww::test {

constexpr auto kWaitLimit = std::chrono::seconds(20);

// Polls `done` until it holds or the deadline passes; true when it held.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = kWaitLimit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

// Holds whoever calls wait() until the test opens it.
class Gate {
  public:
    void wait() {
        std::unique_lock lock(m_mutex);
        m_entered = true;
        m_cv.notify_all();
        m_cv.wait(lock, [&] { return m_open; });
    }
    bool waitEntered() {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, kWaitLimit, [&] { return m_entered; });
    }
    void open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_entered = false;
    bool m_open = false;
};

// A fresh folder under /tmp, removed with everything in it at the end.
class TempDir {
  public:
    TempDir() {
        char templ[] = "/tmp/ww-test-XXXXXX";
        m_path = ::mkdtemp(templ) ? templ : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

  private:
    std::string m_path;
};

// The whole file; empty when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

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

}  // namespace ww::test
