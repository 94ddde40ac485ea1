#include "logging/DDTTYLogger.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "logging/DDLog.h"
#include "platform/foundation/Format.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/foundation/Text.h"

namespace ww {

namespace {

// The 16 ANSI colours as a typical terminal shows them.
constexpr std::array<std::array<std::uint8_t, 3>, 16> kPalette16{{
    {0, 0, 0},
    {194, 54, 33},
    {37, 188, 36},
    {173, 173, 39},
    {73, 46, 225},
    {211, 56, 211},
    {51, 187, 200},
    {203, 204, 205},
    {129, 131, 131},
    {252, 57, 31},
    {49, 231, 34},
    {234, 236, 35},
    {88, 51, 255},
    {249, 53, 248},
    {20, 240, 240},
    {233, 235, 235},
}};

void build16(DDTTYTerminal& t) {
    for (int k = 0; k < 8; ++k) {
        t.codes_fg.push_back(ww::format("%dm", 30 + k));
        t.codes_bg.push_back(ww::format("%dm", 40 + k));
    }
    for (int k = 0; k < 8; ++k) {
        t.codes_fg.push_back(ww::format("1;%dm", 30 + k));
        t.codes_bg.push_back(ww::format("1;%dm", 40 + k));
    }
    t.colors.assign(kPalette16.begin(), kPalette16.end());
}

// Colours 16 to 255 as xterm shows them: a 6x6x6 cube, then 24 greys.
void build256(DDTTYTerminal& t) {
    static constexpr std::uint8_t kCube[6] = {0, 95, 135, 175, 215, 255};
    for (int n = 16; n < 256; ++n) {
        t.codes_fg.push_back(ww::format("38;5;%dm", n));
        t.codes_bg.push_back(ww::format("48;5;%dm", n));
        if (n < 232) {
            int i = n - 16;
            t.colors.push_back({kCube[i / 36], kCube[i / 6 % 6], kCube[i % 6]});
        } else {
            auto g = static_cast<std::uint8_t>(8 + 10 * (n - 232));
            t.colors.push_back({g, g, g});
        }
    }
}

std::uint8_t toByte(double component) {
    if (!(component > 0)) return 0;
    if (component >= 1) return 255;
    return static_cast<std::uint8_t>(component * 255);
}

char* appendHex(char* p, std::uint32_t v) {
    char tmp[8];
    int n = 0;
    do {
        tmp[n++] = "0123456789abcdef"[v & 0xF];
        v >>= 4;
    } while (v != 0);
    while (n > 0) *p++ = tmp[--n];
    return p;
}

}  // namespace

// ---- terminal ------------------------------------------------------------------------------

DDTTYTerminal DDTTYTerminal::detect(const char* term, const char* xcodeColors) {
    DDTTYTerminal t;
    if (!term) {
        if (xcodeColors && std::string_view(xcodeColors) == "YES") t.isaXcodeColorTTY = true;
        return t;
    }
    std::string lower = text::toLowerAscii(term);
    if (lower.find("color") == std::string::npos) return t;
    t.isaColorTTY = true;
    t.isaColor256TTY = lower.find("256") != std::string::npos;
    if (t.isaColor256TTY) {
        build256(t);
    } else {
        build16(t);
    }
    return t;
}

const std::shared_ptr<const DDTTYTerminal>& DDTTYTerminal::current() {
    static const std::shared_ptr<const DDTTYTerminal> terminal =
        std::make_shared<const DDTTYTerminal>(
            detect(std::getenv("TERM"), std::getenv("XcodeColors")));
    return terminal;
}

// ---- colour profiles ------------------------------------------------------------------------

DDTTYLoggerColorProfile::DDTTYLoggerColorProfile(std::optional<DDColor> foreground,
                                                 std::optional<DDColor> background,
                                                 std::int32_t mask_, std::int32_t context_,
                                                 const DDTTYTerminal& terminal)
    : mask(mask_), context(context_) {
    if (foreground) {
        fg_r = toByte(foreground->red);
        fg_g = toByte(foreground->green);
        fg_b = toByte(foreground->blue);
    }
    if (background) {
        bg_r = toByte(background->red);
        bg_g = toByte(background->green);
        bg_b = toByte(background->blue);
    }
    if (foreground && terminal.isaColorTTY) {
        fgCodeIndex = DDTTYLogger::codeIndexForColor(*foreground, terminal);
        fgCodeRaw = terminal.codes_fg[fgCodeIndex];
        fgCode = "\033[" + fgCodeRaw;
    } else if (foreground && terminal.isaXcodeColorTTY) {
        fgCode = ww::format("\033[fg%u,%u,%u;", fg_r, fg_g, fg_b);
    }
    if (background && terminal.isaColorTTY) {
        bgCodeIndex = DDTTYLogger::codeIndexForColor(*background, terminal);
        bgCodeRaw = terminal.codes_bg[bgCodeIndex];
        bgCode = "\033[" + bgCodeRaw;
    } else if (background && terminal.isaXcodeColorTTY) {
        bgCode = ww::format("\033[bg%u,%u,%u;", bg_r, bg_g, bg_b);
    }
    if (terminal.isaColorTTY) {
        resetCode = "\033[0m";
    } else if (terminal.isaXcodeColorTTY) {
        resetCode = "\033[;";
    }
}

std::string DDTTYLoggerColorProfile::description() const {
    return ww::format(
        "<DDTTYLoggerColorProfile: %p mask:%i ctxt:%i fg:%u,%u,%u bg:%u,%u,%u fgCode:%@ "
        "bgCode:%@>",
        static_cast<const void*>(this), mask, context, fg_r, fg_g, fg_b, bg_r, bg_g, bg_b,
        fgCodeRaw, bgCodeRaw);
}

// ---- the logger ----------------------------------------------------------------------------

std::shared_ptr<DDTTYLogger> DDTTYLogger::sharedInstance() {
    static const std::shared_ptr<DDTTYLogger> instance(
        new DDTTYLogger(DDTTYTerminal::current(), STDERR_FILENO));
    return instance;
}

std::shared_ptr<DDTTYLogger> DDTTYLogger::createForTesting(
    std::shared_ptr<const DDTTYTerminal> terminal, int fd) {
    return std::shared_ptr<DDTTYLogger>(new DDTTYLogger(std::move(terminal), fd));
}

DDTTYLogger::DDTTYLogger(std::shared_ptr<const DDTTYTerminal> terminal, int fd)
    : DDAbstractLogger(kLoggerName),
      m_terminal(std::move(terminal)),
      m_fd(fd),
      m_appName(process::processName()),
      m_processID(ww::format("%i", process::processId())) {
    m_colorProfilesArray.reserve(8);
    m_colorProfilesDict.reserve(8);
}

void DDTTYLogger::getRed(double* red, double* green, double* blue, const DDColor& color) {
    *red = color.red;
    *green = color.green;
    *blue = color.blue;
}

std::size_t DDTTYLogger::codeIndexForColor(const DDColor& color, const DDTTYTerminal& terminal) {
    std::size_t best = 0;
    double bestDistance = 100.0;
    for (std::size_t k = 0; k < terminal.colors.size(); ++k) {
        double dr = terminal.colors[k][0] / 255.0 - color.red;
        double dg = terminal.colors[k][1] / 255.0 - color.green;
        double db = terminal.colors[k][2] / 255.0 - color.blue;
        double distance = std::sqrt(dr * dr + dg * dg + db * db);
        if (distance < bestDistance) {
            best = k;
            bestDistance = distance;
        }
    }
    return best;
}

void DDTTYLogger::onLoggerQueue(std::function<void(DDTTYLogger&)> work, bool alwaysQueue) {
    if (!alwaysQueue && isOnInternalLoggerQueue()) {
        work(*this);
        return;
    }
    std::weak_ptr<DDAbstractLogger> weak = weak_from_this();
    auto queue = loggerQueue();
    DDLog::loggingQueue()->async([weak, queue, work = std::move(work)] {
        queue->async([weak, work] {
            if (auto self = std::static_pointer_cast<DDTTYLogger>(weak.lock())) work(*self);
        });
    });
}

bool DDTTYLogger::colorsEnabled() {
    bool result = false;
    auto queue = loggerQueue();
    DDLog::loggingQueue()->sync([&] { queue->sync([&] { result = m_colorsEnabled; }); });
    return result;
}

void DDTTYLogger::setColorsEnabled(bool enabled) {
    onLoggerQueue(
        [enabled](DDTTYLogger& self) {
            self.m_colorsEnabled = enabled;
            if (self.m_colorProfilesArray.empty()) self.loadDefaultColorProfilesOnQueue();
        },
        true);
}

void DDTTYLogger::setForegroundColor(std::optional<DDColor> foreground,
                                     std::optional<DDColor> background, std::int32_t mask,
                                     std::int32_t context) {
    onLoggerQueue([=](DDTTYLogger& self) {
        auto profile = std::make_shared<DDTTYLoggerColorProfile>(foreground, background, mask,
                                                                 context, *self.m_terminal);
        for (auto& existing : self.m_colorProfilesArray) {
            if (existing->mask == mask && existing->context == context) {
                existing = profile;
                return;
            }
        }
        self.m_colorProfilesArray.push_back(std::move(profile));
    });
}

void DDTTYLogger::setForegroundColorForTag(std::optional<DDColor> foreground,
                                           std::optional<DDColor> background,
                                           std::shared_ptr<void> tag) {
    if (!tag) return;
    onLoggerQueue([=](DDTTYLogger& self) {
        auto profile = std::make_shared<DDTTYLoggerColorProfile>(foreground, background, 0, 0,
                                                                 *self.m_terminal);
        self.m_colorProfilesDict[tag.get()] = {tag, std::move(profile)};
    });
}

void DDTTYLogger::clearColorsForFlag(std::int32_t mask, std::int32_t context) {
    onLoggerQueue([=](DDTTYLogger& self) {
        auto& list = self.m_colorProfilesArray;
        for (auto it = list.begin(); it != list.end(); ++it) {
            if ((*it)->mask == mask && (*it)->context == context) {
                list.erase(it);
                return;
            }
        }
    });
}

void DDTTYLogger::clearColorsForTag(const std::shared_ptr<void>& tag) {
    if (!tag) return;
    const void* key = tag.get();
    onLoggerQueue([key](DDTTYLogger& self) { self.m_colorProfilesDict.erase(key); });
}

void DDTTYLogger::clearColorsForAllFlags() {
    onLoggerQueue([](DDTTYLogger& self) { self.m_colorProfilesArray.clear(); });
}

void DDTTYLogger::clearColorsForAllTags() {
    onLoggerQueue([](DDTTYLogger& self) { self.m_colorProfilesDict.clear(); });
}

void DDTTYLogger::clearAllColors() {
    onLoggerQueue([](DDTTYLogger& self) {
        self.m_colorProfilesArray.clear();
        self.m_colorProfilesDict.clear();
    });
}

void DDTTYLogger::loadDefaultColorProfiles() {
    onLoggerQueue([](DDTTYLogger& self) { self.loadDefaultColorProfilesOnQueue(); });
}

void DDTTYLogger::loadDefaultColorProfilesOnQueue() {
    auto set = [this](std::array<std::uint8_t, 3> rgb, std::int32_t flag) {
        auto profile = std::make_shared<DDTTYLoggerColorProfile>(
            DDColor::fromBytes(rgb[0], rgb[1], rgb[2]), std::nullopt, flag, 0, *m_terminal);
        for (auto& existing : m_colorProfilesArray) {
            if (existing->mask == flag && existing->context == 0) {
                existing = profile;
                return;
            }
        }
        m_colorProfilesArray.push_back(std::move(profile));
    };
    set(kDDTTYDefaultErrorColor, DDLogFlagError);
    set(kDDTTYDefaultWarningColor, DDLogFlagWarning);
}

std::size_t DDTTYLogger::formatTimestamp(std::chrono::system_clock::time_point when, char* buf) {
    using namespace std::chrono;
    auto ms = floor<milliseconds>(when.time_since_epoch()).count();
    std::int64_t second = ms / 1000;
    int millis = static_cast<int>(ms % 1000);
    if (millis < 0) {
        millis += 1000;
        --second;
    }
    if (second != m_cachedSecond) {
        std::time_t t = static_cast<std::time_t>(second);
        localtime_r(&t, &m_cachedTm);
        m_cachedSecond = second;
    }
    const std::tm& tm = m_cachedTm;
    int n = std::snprintf(buf, 32, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld:%03d",
                          static_cast<long>(tm.tm_year) + 1900, static_cast<long>(tm.tm_mon) + 1,
                          static_cast<long>(tm.tm_mday), static_cast<long>(tm.tm_hour),
                          static_cast<long>(tm.tm_min), static_cast<long>(tm.tm_sec), millis);
    return n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), 31);
}

void DDTTYLogger::logMessage(const DDLogMessage& message) {
    const auto& formatter = formatterOnQueue();
    std::optional<std::string> formatted;
    bool isFormatted = false;
    if (formatter) {
        formatted = formatter->formatLogMessage(message);
        if (!formatted) return;
        isFormatted = *formatted != message.logMsg();
    }
    // The text is already UTF-8 and lives until the write returns: the
    // gathered write points at it, so no copy is made at any length.
    const std::string& text = formatter ? *formatted : message.logMsg();

    const DDTTYLoggerColorProfile* profile = nullptr;
    if (m_colorsEnabled) {
        if (message.tag()) {
            auto it = m_colorProfilesDict.find(message.tag().get());
            if (it != m_colorProfilesDict.end()) profile = it->second.second.get();
        }
        if (!profile) {
            for (const auto& p : m_colorProfilesArray) {
                if ((message.logFlag() & p->mask) && message.logContext() == p->context) {
                    profile = p.get();
                    break;
                }
            }
        }
    }

    auto piece = [](const char* p, std::size_t n) { return iovec{const_cast<char*>(p), n}; };
    static const std::string kEmpty;
    const std::string& fg = profile ? profile->fgCode : kEmpty;
    const std::string& bg = profile ? profile->bgCode : kEmpty;
    const std::string& reset = profile ? profile->resetCode : kEmpty;
    bool needsNewline = text.empty() || text.back() != '\n';

    if (isFormatted) {
        iovec v[5] = {piece(fg.data(), fg.size()), piece(bg.data(), bg.size()),
                      piece(text.data(), text.size()), piece("\n", needsNewline ? 1 : 0),
                      piece(reset.data(), reset.size())};
        [[maybe_unused]] ssize_t n = ::writev(m_fd, v, 5);
        return;
    }

    char ts[32];
    std::size_t tsLen = formatTimestamp(message.timestamp(), ts);
    char tid[8];
    std::size_t tidLen = static_cast<std::size_t>(appendHex(tid, message.machThreadID()) - tid);
    iovec v[13] = {piece(fg.data(), fg.size()),
                   piece(bg.data(), bg.size()),
                   piece(ts, tsLen),
                   piece(" ", 1),
                   piece(m_appName.data(), m_appName.size()),
                   piece("[", 1),
                   piece(m_processID.data(), m_processID.size()),
                   piece(":", 1),
                   piece(tid, tidLen),
                   piece("] ", 2),
                   piece(text.data(), text.size()),
                   piece("\n", needsNewline ? 1 : 0),
                   piece(reset.data(), reset.size())};
    [[maybe_unused]] ssize_t n = ::writev(m_fd, v, 13);
}

}  // namespace ww
