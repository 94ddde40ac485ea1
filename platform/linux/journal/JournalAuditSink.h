#pragma once

#include <atomic>

#include "app/AgentEvents.h"

namespace ww::journal {

// Audit events as structured entries in the systemd journal, one per event:
// MESSAGE, PRIORITY, SYSLOG_IDENTIFIER=wirewatch, WIREWATCH_EVENT,
// WIREWATCH_INTERFACE, WIREWATCH_RULE, WIREWATCH_RULE_SOURCE, and
// WIREWATCH_DRY_RUN=1 in a dry run; WIREWATCH_ERROR for a refused action.
// An exposure is WIREWATCH_EVENT=exposure with WIREWATCH_EXPOSURE_START,
// _END (UTC, to the millisecond), _SECONDS, _ENDED_BY and _START_FROM_CHANGE
// instead of the interface.
// Written through sd_journal_send, which talks to the journal's socket
// (/run/systemd/journal/socket); with no journal the entry is lost and one
// line says so on standard error.
class JournalAuditSink final : public AuditSink {
  public:
    void record(const AgentEvent& event, const AuditContext& context) override;
    void recordExposure(const Exposure& exposure, const AuditContext& context) override;

    // The syslog priority an event is written with.
    static int priorityFor(const AgentEvent& event);

  private:
    void warnOnce(int r);

    std::atomic<bool> m_warned{false};
};

}  // namespace ww::journal
