#pragma once

// Helpers for the agent's tests: a logger that keeps every line, simulated
// Wi-Fi files and runs of the built program.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "logging/DDLog.h"
#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Plist.h"
#include "tests/support/common_TestSupport.h"

namespace ww::test {

struct CapturedLine {
    std::int32_t flag;
    std::string text;
    std::string function;
};

class CaptureLogger : public DDAbstractLogger {
  public:
    CaptureLogger() : DDAbstractLogger("test.capture") {}
    void logMessage(const DDLogMessage& m) override {
        std::lock_guard lock(m_mutex);
        m_lines.push_back(CapturedLine{m.logFlag(), m.logMsg(), m.function() ? m.function() : ""});
    }
    // Every line so far (the caller flushes the log first).
    std::vector<CapturedLine> lines() {
        DDLog::flushLog();
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::vector<std::string> texts() {
        std::vector<std::string> out;
        for (const auto& l : lines()) out.push_back(l.text);
        return out;
    }
    void clear() {
        DDLog::flushLog();
        std::lock_guard lock(m_mutex);
        m_lines.clear();
    }

  private:
    std::mutex m_mutex;
    std::vector<CapturedLine> m_lines;
};

// Installs a CaptureLogger for the scope of a test, alone in the log core.
class ScopedCapture {
  public:
    ScopedCapture() : logger(std::make_shared<CaptureLogger>()) {
        DDLog::removeAllLoggers();
        DDLog::addLogger(logger);
        DDLog::flushLog();
    }
    ~ScopedCapture() {
        DDLog::flushLog();
        DDLog::removeAllLoggers();
        DDLog::flushLog();
    }
    std::shared_ptr<CaptureLogger> logger;
};

inline void writeFile(const std::string& path, const std::string& text, mode_t mode = 0644) {
    file::writeAtomically(path, text, mode);
}

// The check's log lines.
inline constexpr const char* kBoth =
    "AppDelegate: both wireless and wired are connected on system, applying rule....";
inline constexpr const char* kDisconnect =
    "AppDelegate: disconnecting wireless as wired is connected, rule is configured to do so.. ";
inline constexpr const char* kDisable =
    "AppDelegate: disabling wireless as wired is connected, rule is configured to do so.. ";
inline constexpr const char* kBothNoRule =
    "AppDelegate: both wired & wireless are connected, and no rule is configured...";
inline constexpr const char* kWiredOnly =
    "AppDelegate: only wired are connected on system, applying rule....";
inline constexpr const char* kWiredNoRule =
    "AppDelegate: only connected via wired and no rule is configured...";
inline constexpr const char* kNotWired =
    "AppDelegate: system is not connected via wired may be wifi or hotspot, applying rule....";
inline constexpr const char* kWifiOnly =
    "AppDelegate: system is connected via wifi only so no rule will be executed......";
inline constexpr const char* kNotWireless =
    "AppDelegate: system is not connected via wireless and checking if wireless needs to be "
    "enabled..";
inline constexpr const char* kEnabling =
    "AppDelegate: enabling wireless as enable wireless is true...";
inline constexpr const char* kNoWirelessWanted =
    "AppDelegate: no connectivity to internet and user havent' selected to enable wireless so "
    "nothing to do..";

// The Wi-Fi details shown for simWifi(true, true), and for a radio that is off.
inline const std::vector<std::string> kWifiDetails = {
    "SSID: Flowers By Irene",  "BSSID: 4C:43:41:04:1C:BC",   "RSSI: -55 dBm",
    "Noise: -90 dBm",          "Channel: 36/5 GHz (80 MHz)", "MCS Index: 9",
    "Security: WPA2 Personal", "Op Mode: Infrastructure",    "PHY Mode: 802.11ac",
    "Transmit Rate: 866 Mbps"};
inline const std::vector<std::string> kWifiOffDetails = {
    "SSID:",          "BSSID:",    "RSSI:",    "Noise:",    "Channel:",
    "MCS Index: N/A", "Security:", "Op Mode:", "PHY Mode:", "Transmit Rate:"};

// The menu as `wirewatch --once` prints it.
inline std::string menuText(const std::string& icon, const std::vector<std::string>& items) {
    std::string text = "icon: " + icon + "\n";
    for (const auto& item : items) text += item + "\n";
    return text;
}

// A property list file holding these keys.
inline void writePlist(const std::string& path, const plist::Value::Dictionary& keys,
                       mode_t mode = 0644) {
    writeFile(path, plist::toXml(plist::Value::dictionary(keys)), mode);
}

// A simulated Wi-Fi: powered, associated, with the values given.
inline plist::Value simWifi(bool power, bool associated) {
    plist::Value d = plist::Value::dictionary();
    d.set("present", plist::Value::boolean(true));
    d.set("power", plist::Value::boolean(power));
    d.set("interfaceMode", plist::Value::integer(1));
    d.set("security", plist::Value::integer(4));
    d.set("activePHYMode", plist::Value::integer(5));
    if (associated) {
        d.set("ssid", plist::Value::string("Flowers By Irene"));
        d.set("bssid", plist::Value::string("4c:43:41:4:1c:bc"));
    }
    d.set("channelNumber", plist::Value::integer(36));
    d.set("channelBand", plist::Value::integer(2));
    d.set("channelWidth", plist::Value::integer(3));
    d.set("transmitRate", plist::Value::real(866.7));
    d.set("rssiValue", plist::Value::integer(-55));
    d.set("noiseMeasurement", plist::Value::integer(-90));
    d.set("mcs", plist::Value::string("9"));
    return d;
}

inline std::vector<std::string> simOperations(const std::string& path) {
    std::vector<std::string> out;
    auto v = plist::parse(readFile(path));
    if (!v) return out;
    if (const plist::Value* ops = v->find("operations"); ops && ops->arrayValue()) {
        for (const auto& o : *ops->arrayValue()) out.push_back(*o.stringValue());
    }
    return out;
}

// The build tree (for the programs under test).
inline std::string buildDir() {
    const char* d = std::getenv("WW_BUILD_DIR");
    return d ? d : ".";
}

struct ProgramRun {
    int status = -1;  // the exit status; -1 when the program did not exit
    std::string out, err;
};

// Runs the built agent with `arguments` (shell words, quoted by the caller)
// and none of its environment variables but `environment` (NAME='value'
// words); its output is kept in `dir`. Without XDG_RUNTIME_DIR a resident
// agent keeps its one-agent lock in its logs folder, not the session's.
inline ProgramRun runAgent(const TempDir& dir, const std::string& arguments,
                           const std::string& environment = "") {
    std::string cmd =
        "env -u WIREWATCH_TOOLS_DIR -u WIREWATCH_WIFI -u WIREWATCH_PREFS "
        "-u WIREWATCH_LOGS_DIR -u WIREWATCH_USB_ROOT -u XDG_RUNTIME_DIR HOME='" +
        dir.path() + "' " + environment + " '" + buildDir() + "/bin/wirewatch' " + arguments +
        " >'" + dir.file("out") + "' 2>'" + dir.file("err") + "'";
    int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(dir.file("out")),
            readFile(dir.file("err"))};
}

// A tools folder in `dir` whose ifconfig, networksetup and system_profiler
// print captured output (ifconfig's from `ifconfigOutput`, read at every run;
// the other two from `fixtures`), beside the built airport stand-in. Empty
// when it could not be made.
inline std::string writeCapturedTools(const TempDir& dir, const std::string& fixtures,
                                      const std::string& ifconfigOutput) {
    std::string tools = dir.file("tools");
    file::makeDirectories(tools);
    for (std::string output :
         {ifconfigOutput, fixtures + "networksetup.txt", fixtures + "system_profiler.xml"}) {
        std::string tool = output.substr(output.rfind('/') + 1);
        tool.resize(tool.find('.'));
        writeFile(tools + "/" + tool, "#!/bin/sh\ncat '" + output + "'\n", 0755);
    }
    std::string airport = buildDir() + "/libexec/wirewatch/airport";
    if (::symlink(airport.c_str(), (tools + "/airport").c_str()) != 0) return "";
    return tools;
}

// The text of every log file in `logsDir`.
inline std::string logFilesText(const std::string& logsDir) {
    std::string text;
    for (const auto& name : listDir(logsDir)) {
        if (name.rfind("log-", 0) == 0) text += readFile(logsDir + "/" + name);
    }
    return text;
}

}  // namespace ww::test
