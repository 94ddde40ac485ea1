#include "platform/linux/journal/JournalAuditSink.h"

#include <syslog.h>
#include <systemd/sd-journal.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace ww::journal {

int JournalAuditSink::priorityFor(const AgentEvent& event) {
    if (!event.ok) return LOG_ERR;
    switch (event.kind) {
        case AgentEventKind::WarningEntered:
            return LOG_WARNING;
        case AgentEventKind::WarningLeft:
            return LOG_INFO;
        default:
            return LOG_NOTICE;
    }
}

void JournalAuditSink::record(const AgentEvent& event, const AuditContext& context) {
    // Values go through "%s": an interface or error text is data, never a format.
    const std::string priority = std::to_string(priorityFor(event));
    int r;
    if (event.error) {
        r = sd_journal_send("MESSAGE=%s", event.message.c_str(), "PRIORITY=%s", priority.c_str(),
                            "SYSLOG_IDENTIFIER=wirewatch", "WIREWATCH_EVENT=%s",
                            agentEventName(event.kind), "WIREWATCH_INTERFACE=%s",
                            event.interface.c_str(), "WIREWATCH_RULE=%s", context.rule.c_str(),
                            "WIREWATCH_RULE_SOURCE=%s", context.ruleSource.c_str(),
                            "WIREWATCH_ERROR=%s", event.error->c_str(), "WIREWATCH_DRY_RUN=%s",
                            context.dryRun ? "1" : "0", nullptr);
    } else {
        r = sd_journal_send("MESSAGE=%s", event.message.c_str(), "PRIORITY=%s", priority.c_str(),
                            "SYSLOG_IDENTIFIER=wirewatch", "WIREWATCH_EVENT=%s",
                            agentEventName(event.kind), "WIREWATCH_INTERFACE=%s",
                            event.interface.c_str(), "WIREWATCH_RULE=%s", context.rule.c_str(),
                            "WIREWATCH_RULE_SOURCE=%s", context.ruleSource.c_str(),
                            "WIREWATCH_DRY_RUN=%s", context.dryRun ? "1" : "0", nullptr);
    }
    warnOnce(r);
}

void JournalAuditSink::recordExposure(const Exposure& exposure, const AuditContext& context) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", exposure.seconds);
    const std::string message = std::string("Wired link and Wi-Fi both up for ") + seconds +
                                " s, until: " + exposure.endedBy;
    const std::string priority = std::to_string(LOG_NOTICE);
    const std::string start = isoTime(exposure.start);
    const std::string end = isoTime(exposure.end);
    int r = sd_journal_send(
        "MESSAGE=%s", message.c_str(), "PRIORITY=%s", priority.c_str(),
        "SYSLOG_IDENTIFIER=wirewatch", "WIREWATCH_EVENT=exposure", "WIREWATCH_EXPOSURE_START=%s",
        start.c_str(), "WIREWATCH_EXPOSURE_END=%s", end.c_str(), "WIREWATCH_EXPOSURE_SECONDS=%s",
        seconds, "WIREWATCH_EXPOSURE_ENDED_BY=%s", exposure.endedBy.c_str(),
        "WIREWATCH_EXPOSURE_START_FROM_CHANGE=%s", exposure.startFromChange ? "1" : "0",
        "WIREWATCH_RULE=%s", context.rule.c_str(), "WIREWATCH_RULE_SOURCE=%s",
        context.ruleSource.c_str(), "WIREWATCH_DRY_RUN=%s", context.dryRun ? "1" : "0", nullptr);
    warnOnce(r);
}

void JournalAuditSink::warnOnce(int r) {
    if (r < 0 && !m_warned.exchange(true)) {
        std::fprintf(stderr, "wirewatch: audit events cannot reach the journal (%s)\n",
                     std::strerror(-r));
    }
}

}  // namespace ww::journal
