#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "logging/DDLog.h"
#include "platform/foundation/FileUtil.h"

namespace ww::test {

// Collects every log line written while it is installed.
class LogCapture {
  public:
    struct Line {
        std::string text;
        std::string function;
        std::int32_t flag;
    };

    LogCapture() : m_logger(std::make_shared<Recorder>()) { DDLog::addLogger(m_logger); }
    ~LogCapture() {
        DDLog::flushLog();
        DDLog::removeLogger(m_logger);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Waits until every line logged so far has arrived.
    std::vector<Line> lines() {
        DDLog::flushLog();
        std::lock_guard lock(m_logger->mutex);
        return m_logger->lines;
    }
    std::vector<Line> linesContaining(const std::string& part) {
        std::vector<Line> found;
        for (auto& l : lines()) {
            if (l.text.find(part) != std::string::npos) found.push_back(l);
        }
        return found;
    }

  private:
    struct Recorder : DDLogger {
        std::mutex mutex;
        std::vector<Line> lines;
        void logMessage(const DDLogMessage& m) override {
            std::lock_guard lock(mutex);
            lines.push_back({m.logMsg(), m.function() ? m.function() : "", m.logFlag()});
        }
        std::shared_ptr<DDLogFormatter> logFormatter() override { return nullptr; }
        void setLogFormatter(std::shared_ptr<DDLogFormatter>) override {}
    };
    std::shared_ptr<Recorder> m_logger;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "ww-disc-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) ADD_FAILURE() << "mkdtemp failed";
        m_path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // Writes a file in the folder and returns its path.
    std::string write(const std::string& name, const std::string& bytes) const {
        std::string p = m_path + "/" + name;
        EXPECT_TRUE(file::writeAtomically(p, bytes, 0644)) << p;
        return p;
    }

  private:
    std::string m_path;
};

inline std::string fixturePath(const std::string& name) {
    return std::string(WW_SOURCE_ROOT) + "/tests/fixtures/discovery/" + name;
}

inline std::string readFixture(const std::string& name) {
    auto text = file::readAll(fixturePath(name));
    EXPECT_TRUE(text.has_value()) << "missing fixture " << name;
    return text.value_or("");
}

}  // namespace ww::test
