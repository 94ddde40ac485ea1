#pragma once

#include <sys/uio.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "logging/DDLogger.h"

namespace ww {

// An RGB colour, each component from 0 to 1.
struct DDColor {
    double red = 0;
    double green = 0;
    double blue = 0;

    static DDColor fromBytes(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        return DDColor{r / 255.0, g / 255.0, b / 255.0};
    }
};

// What the terminal understands, fixed once per process from TERM and
// XcodeColors, with the palette the colour profiles choose from.
struct DDTTYTerminal {
    bool isaColorTTY = false;
    bool isaColor256TTY = false;
    bool isaXcodeColorTTY = false;
    std::vector<std::string> codes_fg;  // escape-code bodies, in palette order
    std::vector<std::string> codes_bg;
    std::vector<std::array<std::uint8_t, 3>> colors;  // the palette

    // TERM containing "color" gives ANSI colours (256 of them when it also
    // contains "256"); no TERM with XcodeColors=YES gives XcodeColors escapes.
    // Null means unset.
    static DDTTYTerminal detect(const char* term, const char* xcodeColors);
    // The process's terminal, detected from the environment at first use.
    static const std::shared_ptr<const DDTTYTerminal>& current();
};

// One colour rule: by flag mask and context, or by tag. Escape sequences are
// built once, here.
class DDTTYLoggerColorProfile {
  public:
    DDTTYLoggerColorProfile(std::optional<DDColor> foreground, std::optional<DDColor> background,
                            std::int32_t mask, std::int32_t context, const DDTTYTerminal& terminal);

    std::int32_t mask = 0;
    std::int32_t context = 0;
    std::uint8_t fg_r = 0, fg_g = 0, fg_b = 0;
    std::uint8_t bg_r = 0, bg_g = 0, bg_b = 0;
    std::size_t fgCodeIndex = 0;
    std::string fgCodeRaw;
    std::size_t bgCodeIndex = 0;
    std::string bgCodeRaw;
    std::string fgCode;  // complete sequences; empty when none
    std::string bgCode;
    std::string resetCode;

    std::string description() const;
};

using DDTTYLoggerColorProfilePtr = std::shared_ptr<DDTTYLoggerColorProfile>;

// Writes every message as one line to standard error with one gathered write:
// "2026-12-05 08:00:03:117 Wirewatch[412:1a03] text", optionally coloured by
// flag, context or tag. A message whose text a formatter changed is written
// without the header.
class DDTTYLogger : public DDAbstractLogger {
  public:
    static constexpr const char* kLoggerName = "wirewatch.logging.ttyLogger";

    // The one logger for standard error.
    static std::shared_ptr<DDTTYLogger> sharedInstance();
    // A separate logger writing to `fd` with the given terminal, for tests.
    static std::shared_ptr<DDTTYLogger> createForTesting(
        std::shared_ptr<const DDTTYTerminal> terminal, int fd);

    // Reads wait on the logging queue, then on the logger's queue.
    bool colorsEnabled();
    // Always queued behind the messages already logged; turning colours on or
    // off loads the default profiles when there are no flag profiles.
    void setColorsEnabled(bool enabled);

    // Setters and clearers run at once on the logger's queue, else queued via
    // the logging queue. Absent colours mean no sequence for that side.
    void setForegroundColor(std::optional<DDColor> foreground, std::optional<DDColor> background,
                            std::int32_t mask, std::int32_t context = 0);
    void setForegroundColorForTag(std::optional<DDColor> foreground,
                                  std::optional<DDColor> background, std::shared_ptr<void> tag);
    void clearColorsForFlag(std::int32_t mask, std::int32_t context = 0);
    void clearColorsForTag(const std::shared_ptr<void>& tag);
    void clearColorsForAllFlags();
    void clearColorsForAllTags();
    void clearAllColors();
    void loadDefaultColorProfiles();

    void logMessage(const DDLogMessage& message) override;

    // The palette entry nearest to the colour (ties keep the lower index).
    static std::size_t codeIndexForColor(const DDColor& color, const DDTTYTerminal& terminal);
    static void getRed(double* red, double* green, double* blue, const DDColor& color);

    // On the logger's queue only (tests read them there).
    const std::vector<DDTTYLoggerColorProfilePtr>& colorProfilesArray() const {
        return m_colorProfilesArray;
    }

  private:
    DDTTYLogger(std::shared_ptr<const DDTTYTerminal> terminal, int fd);
    // Runs on the logger's queue: at once when already there, else queued via
    // the logging queue (or always queued when `alwaysQueue`).
    void onLoggerQueue(std::function<void(DDTTYLogger&)> work, bool alwaysQueue = false);
    void loadDefaultColorProfilesOnQueue();
    // "yyyy-MM-dd HH:mm:ss:SSS" in local time; returns its length.
    std::size_t formatTimestamp(std::chrono::system_clock::time_point when, char* buf);

    std::shared_ptr<const DDTTYTerminal> m_terminal;
    int m_fd;
    std::string m_appName;
    std::string m_processID;
    bool m_colorsEnabled = false;
    std::vector<DDTTYLoggerColorProfilePtr> m_colorProfilesArray;
    std::unordered_map<const void*, std::pair<std::shared_ptr<void>, DDTTYLoggerColorProfilePtr>>
        m_colorProfilesDict;
    // The local date and time of the last second written, kept for that second.
    std::int64_t m_cachedSecond = INT64_MIN;
    std::tm m_cachedTm{};
};

// A pure helper for the default profiles' colours.
inline constexpr std::array<std::uint8_t, 3> kDDTTYDefaultErrorColor{214, 57, 30};
inline constexpr std::array<std::uint8_t, 3> kDDTTYDefaultWarningColor{204, 121, 32};

}  // namespace ww
