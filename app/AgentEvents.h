#pragma once

#include <optional>
#include <string>

#include "app/ExposureAudit.h"

namespace ww {

// What the agent did, or what changed, in one check: the actions a script
// reads back from --once --json and the audit events a fleet collects.
enum class AgentEventKind {
    WifiDisconnected,
    WifiSwitchedOff,
    WifiSwitchedOn,
    HotspotDisabled,
    WarningEntered,
    WarningLeft,
    PolicyApplied,
};

// The stable name of an event ("wifi-switched-off"), as scripts and journal
// queries see it.
const char* agentEventName(AgentEventKind kind);

struct AgentEvent {
    AgentEventKind kind = AgentEventKind::WifiDisconnected;
    // The network interface (BSD name) acted on or shown; empty when unknown.
    std::string interface;
    // False when the platform refused the action; `error` then says why when it can.
    bool ok = true;
    std::optional<std::string> error;
    // False for an action that found nothing to change (Wi-Fi already off,
    // not associated): the checks repeat their rule every five seconds.
    bool changed = true;
    // A short human sentence.
    std::string message;
};

// The setting in force when an event happened, for audit records.
struct AuditContext {
    std::string rule;        // the rule's value as read ("0", "1", "-1")
    std::string ruleSource;  // "policy", "preferences", "defaults" or "unset"
    bool dryRun = false;
};

// Where audit events go when the administrator asks for them.
class AuditSink {
  public:
    virtual ~AuditSink() = default;
    virtual void record(const AgentEvent& event, const AuditContext& context) = 0;
    // An exposure that has just ended.
    virtual void recordExposure(const Exposure& exposure, const AuditContext& context) = 0;
};

}  // namespace ww
