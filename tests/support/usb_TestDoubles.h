#pragma once

// Recorders for the USB guard's outputs: its console (standard error, standard
// output, system log) and the sysfs attribute writes.

#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/usb/SysfsUsbRegistry.h"
#include "usb/UsbConsole.h"

namespace ww::test {

class RecordingUsbConsole final : public UsbConsole {
  public:
    void standardError(std::string_view text) override { add(m_stderr, text); }
    void standardOutput(std::string_view text) override { add(m_stdout, text); }
    void systemLog(std::string_view message) override {
        add(m_syslog, std::string(message) + "\n");
    }

    // Everything written to each stream so far, in order; one line per system log entry.
    std::string standardErrorText() const { return get(m_stderr); }
    std::string standardOutputText() const { return get(m_stdout); }
    std::string systemLogText() const { return get(m_syslog); }

  private:
    void add(std::string& to, std::string_view text) {
        std::lock_guard lock(m_mutex);
        to += text;
    }
    std::string get(const std::string& from) const {
        std::lock_guard lock(m_mutex);
        return from;
    }

    mutable std::mutex m_mutex;
    std::string m_stderr, m_stdout, m_syslog;
};

// Records every attribute write. Writes succeed on the file through the real
// writer unless an error was queued with failNext: then the next write fails
// with it and the file is left alone, as the kernel leaves a refused change.
class RecordingAttributeWriter final : public sysfs::AttributeWriter {
  public:
    struct Write {
        std::string path;
        std::string bytes;
        int result;
    };

    void failNext(int error) {
        std::lock_guard lock(m_mutex);
        m_failures.push_back(error);
    }

    int writeAttribute(const std::string& path, std::string_view bytes) override {
        int result = 0;
        {
            std::lock_guard lock(m_mutex);
            if (!m_failures.empty()) {
                result = m_failures.front();
                m_failures.pop_front();
            }
        }
        if (result == 0) result = sysfs::AttributeWriter::real().writeAttribute(path, bytes);
        std::lock_guard lock(m_mutex);
        m_writes.push_back(Write{path, std::string(bytes), result});
        return result;
    }

    std::vector<Write> writes() const {
        std::lock_guard lock(m_mutex);
        return m_writes;
    }

  private:
    mutable std::mutex m_mutex;
    std::deque<int> m_failures;
    std::vector<Write> m_writes;
};

}  // namespace ww::test
