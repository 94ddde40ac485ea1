#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "discovery/CommandTable.h"
#include "tests/support/app_TestSupport.h"

namespace ww::test {

// Collects every log line written while it is installed.
struct LogCapture : ScopedCapture {
    std::vector<CapturedLine> lines() { return logger->lines(); }
    std::vector<std::string> texts() { return logger->texts(); }
    std::vector<CapturedLine> linesContaining(const std::string& part) {
        std::vector<CapturedLine> found;
        for (auto& l : lines()) {
            if (l.text.find(part) != std::string::npos) found.push_back(l);
        }
        return found;
    }
};

inline std::string fixturePath(const std::string& name) {
    return std::string(WW_SOURCE_ROOT) + "/tests/fixtures/discovery/" + name;
}

inline std::string readFixture(const std::string& name) {
    auto text = file::readAll(fixturePath(name));
    EXPECT_TRUE(text.has_value()) << "missing fixture " << name;
    return text.value_or("");
}

// Sets an environment variable for the life of the object (the built-ins read
// the agent's environment, which the programs inherit); unset when absent.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

// A command line that prints `text` exactly.
inline std::string printing(const std::string& text) { return "printf '%s' " + shellQuote(text); }

}  // namespace ww::test
