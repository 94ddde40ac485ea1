#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ww {

// A text field that several threads may read and replace: a reader gets
// either the old or the new value, never a mixture.
class AtomicText {
public:
    std::optional<std::string> get() const {
        std::lock_guard lock(m_mutex);
        return m_value;
    }
    void set(std::optional<std::string> v) {
        std::lock_guard lock(m_mutex);
        m_value = std::move(v);
    }

private:
    mutable std::mutex m_mutex;
    std::optional<std::string> m_value;
};

// The record of one network interface. Created afresh by every inventory and
// shared by reference among its tables: a change through one table shows in all.
// Text fields distinguish absent (no value) from empty.
class InterfaceInfo {
public:
    AtomicText BSDName;
    AtomicText IPAdress;
    AtomicText MacAdress;
    AtomicText status;
    AtomicText type;
    AtomicText displayName;
    AtomicText sysProfilerName;
    std::int64_t serviceOrder = 0;

    // "BSDName,displayName,MacAdress,IPAdress,status,type,serviceOrder,sysProfilerName";
    // absent texts print "(null)", the order as an unsigned number.
    std::string toString() const;
    std::string description() const { return toString(); }
};

using InterfaceInfoPtr = std::shared_ptr<InterfaceInfo>;
// Interface tables are keyed by BSD name.
using InterfaceTable = std::map<std::string, InterfaceInfoPtr>;
using InterfaceList = std::vector<InterfaceInfoPtr>;

}  // namespace ww
