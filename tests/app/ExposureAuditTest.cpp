// The exposure audit on a manual clock, with its file in a real folder.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "app/ExposureAudit.h"
#include "app/InfoCommands.h"
#include "app/UserDefaults.h"
#include "platform/foundation/Text.h"
#include "tests/support/app_ManualClock.h"
#include "tests/support/app_TestSupport.h"
#include "tests/support/common_Children.h"

namespace ww::test {
namespace {

using namespace std::chrono_literals;

class ExposureAuditTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("exposure-audit.jsonl");
    ManualClock clock;

    // Runs one check: it starts now and its inventory takes 5 ms.
    void check(ExposureAudit& audit, bool wired, bool wifi) {
        auto lookedAt = clock.now();
        clock.advance(5ms);
        audit.observe(wired, wifi, lookedAt, clock.now());
    }
    // One exposure from a network change to the rule's disconnect.
    void exposure(ExposureAudit& audit) {
        audit.networkChanged();
        check(audit, true, true);
        audit.actedOn("Wi-Fi disconnected by the rule");
    }
    static int exposures(const std::vector<ExposureDay>& days) {
        int total = 0;
        for (const auto& day : days) total += day.exposures;
        return total;
    }
};

TEST_F(ExposureAuditTest, FromTheChangeToTheRulesAction) {
    ExposureAudit audit(path, clock);
    std::vector<Exposure> told;
    audit.setExposureHandler([&](const Exposure& e) {
        EXPECT_FALSE(audit.isOpen()) << "told after the audit let go of its lock";
        told.push_back(e);
    });
    check(audit, false, true);
    clock.advance(3s);
    audit.networkChanged();  // the cable arrives
    clock.advance(2ms);
    check(audit, true, true);
    EXPECT_TRUE(audit.isOpen());
    clock.advance(53ms);
    audit.actedOn("Wi-Fi disconnected by the rule");
    EXPECT_FALSE(audit.isOpen());

    ExposureDay today = audit.today();
    EXPECT_EQ(today.exposures, 1);
    EXPECT_NEAR(today.longestSeconds, 0.060, 1e-9);
    EXPECT_EQ(exposureSummaryLine(today), "1 exposure today, longest 0.06 s");
    ASSERT_EQ(today.intervals.size(), 1u);
    EXPECT_TRUE(today.intervals[0].startFromChange);
    EXPECT_EQ(today.intervals[0].endedBy, "Wi-Fi disconnected by the rule");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].end - told[0].start, 60ms);

    // The file holds the same, one JSON object per line.
    auto days = ExposureAudit::readFile(path);
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].date, today.date);
    EXPECT_EQ(days[0].exposures, 1);
    EXPECT_NEAR(days[0].intervals[0].seconds, 0.060, 1e-9);
    EXPECT_EQ(days[0].intervals[0].end - days[0].intervals[0].start, 60ms);
}

TEST_F(ExposureAuditTest, WithoutAnEventTheStartIsTheLastCheckThatSawNone) {
    ExposureAudit audit("", clock);
    check(audit, false, true);
    auto quiet = clock.now();
    clock.advance(5s);
    check(audit, true, true);
    clock.advance(10ms);
    audit.actedOn("Wi-Fi switched off by the rule");
    auto today = audit.today();
    ASSERT_EQ(today.exposures, 1);
    EXPECT_FALSE(today.intervals[0].startFromChange);
    EXPECT_NEAR(today.intervals[0].seconds,
                std::chrono::duration<double>(clock.now() - quiet).count(), 1e-9);
    // A failed action leaves it open; the next check that still sees both
    // starts a new one from the action, not from before it.
    check(audit, true, true);
    clock.advance(1s);
    audit.agentStopping();
    today = audit.today();
    ASSERT_EQ(today.exposures, 2);
    EXPECT_EQ(today.intervals[1].endedBy, "agent stopped");
    EXPECT_NEAR(today.intervals[1].seconds, 1.005, 1e-9);
}

TEST_F(ExposureAuditTest, KeepsNinetyDaysAndReloads) {
    std::string lines;
    for (int ago : {200, 120, 89, 1}) {
        lines += "{\"date\":\"" + ExposureAudit::localDate(clock.wallNow() - ago * 24h) +
                 "\",\"exposures\":" + std::to_string(ago) + ",\"longest_seconds\":1.5}\n\n";
    }
    writeFile(path, lines);
    {
        ExposureAudit audit(path, clock);
        EXPECT_EQ(audit.days().size(), 4u);
        exposure(audit);
    }
    auto days = ExposureAudit::readFile(path);
    ASSERT_EQ(days.size(), 3u) << readFile(path);
    EXPECT_EQ(days[0].exposures, 89);
    EXPECT_EQ(days[1].exposures, 1);
    EXPECT_EQ(days[2].exposures, 1);
    EXPECT_EQ(days[2].date, ExposureAudit::localDate(clock.wallNow()));
    // Every line is one JSON document; the file is private.
    const std::string written = readFile(path);
    for (std::string_view line : text::splitLines(written)) {
        if (!line.empty()) {
            EXPECT_TRUE(nlohmann::json::accept(line)) << line;
        }
    }
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A new run keeps counting today from what the file holds.
    ExposureAudit again(path, clock);
    exposure(again);
    EXPECT_EQ(again.today().exposures, 2);
}

TEST_F(ExposureAuditTest, AFileThatCannotBeReadIsSetAsideNeverOverwritten) {
    const std::string good =
        "{\"date\":\"" + ExposureAudit::localDate(clock.wallNow()) + "\",\"exposures\":3}\n";
    struct Case {
        const char* what;
        std::string text;  // empty: a FIFO
    };
    const Case cases[] = {
        {"not JSON", good + "not json\n"},
        {"a line cut short", good + "{\"date\":\"2020-01-01\",\"expo"},
        {"JSON that is no day", "{\"date\":5}\n" + good},
        {"not a regular file", ""},
    };
    for (const Case& c : cases) {
        TempDir folder;
        std::string file = folder.file(ExposureAudit::kFileName);
        if (c.text.empty()) {
            ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
        } else {
            writeFile(file, c.text);
        }
        {
            ExposureAudit audit(file, clock);
            EXPECT_EQ(audit.today().exposures, 0) << c.what;
            exposure(audit);
        }
        std::string aside;
        for (const auto& name : listDir(folder.path())) {
            if (name.rfind(std::string(ExposureAudit::kFileName) + ".damaged-", 0) == 0)
                aside = name;
        }
        ASSERT_FALSE(aside.empty()) << c.what;
        if (!c.text.empty()) {
            EXPECT_EQ(readFile(folder.file(aside)), c.text) << c.what;
        }
        auto days = ExposureAudit::readWholeFile(file);
        ASSERT_TRUE(days) << c.what;
        ASSERT_EQ(days->size(), 1u) << c.what;
        EXPECT_EQ((*days)[0].exposures, 1) << c.what;
    }
}

// Two agent processes (a tray agent and `--once`, say) share the file: each
// record is added to what the other wrote.
TEST_F(ExposureAuditTest, ProcessesSharingTheFileKeepEachOthersRecords) {
    constexpr int kProcesses = 3, kRecords = 40;
    ExposureAudit openedBefore(path, clock);
    runInChildren(kProcesses, [&](int) {
        ExposureAudit audit(path, clock);
        for (int i = 0; i < kRecords; ++i) exposure(audit);
        return true;
    });
    EXPECT_EQ(exposures(ExposureAudit::readFile(path)), kProcesses * kRecords) << readFile(path);
    // An audit opened before them (the About line's) counts them too.
    EXPECT_EQ(exposures(openedBefore.days()), kProcesses * kRecords);
}

// An exposure from 23:59:58 to 00:00:03 (local time, in a zone away from UTC)
// counts on the day it ended: in the file, in today's figures that the About
// line shows, and in `--status`, which all count what ended today.
TEST_F(ExposureAuditTest, AnExposureAcrossMidnightCountsOnTheDayItEnds) {
    const char* saved = std::getenv("TZ");
    const std::string savedZone = saved ? saved : "";
    ::setenv("TZ", "XYZ-5", 1);  // UTC+5, no tzdata needed
    ::tzset();
    std::tm late{};
    ASSERT_TRUE(::strptime("2026-03-14 23:59:58", "%Y-%m-%d %H:%M:%S", &late));
    late.tm_isdst = -1;
    clock.setWallNow(std::chrono::system_clock::from_time_t(std::mktime(&late)));
    {
        ExposureAudit audit(path, clock);
        audit.networkChanged();
        check(audit, true, true);
        clock.advance(4995ms);
        audit.actedOn("Wi-Fi disconnected by the rule");
        EXPECT_EQ(exposureSummaryLine(audit.today()), "1 exposure today, longest 5.00 s");
    }
    auto days = ExposureAudit::readFile(path);
    ASSERT_EQ(days.size(), 1u) << readFile(path);
    EXPECT_EQ(days[0].date, "2026-03-15");
    ASSERT_EQ(days[0].intervals.size(), 1u);
    EXPECT_EQ(isoTime(days[0].intervals[0].start), "2026-03-14T18:59:58.000Z");
    EXPECT_EQ(isoTime(days[0].intervals[0].end), "2026-03-14T19:00:03.000Z");

    UserDefaults none(dir.file("prefs.plist"));
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&text, &size);
    ASSERT_TRUE(out);
    runStatusCommand(dir.path(), none, false, out, clock);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size), "1 exposure today, longest 5.00 s\n");
    std::free(text);

    if (saved) {
        ::setenv("TZ", savedZone.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

}  // namespace
}  // namespace ww::test
