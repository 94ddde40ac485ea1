#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ww {

// The USB vendor and product numbers a device reports.
struct UsbNumbers {
    std::uint16_t vendorID = 0;
    std::uint16_t productID = 0;

    bool operator==(const UsbNumbers&) const = default;
};

// One attached USB device as the registry lists it.
struct UsbDeviceEntry {
    // The registry's own handle for the device (sysfs: the bus entry name, "1-2").
    std::string registryID;
    // The device's registry name; the empty text when it cannot be read.
    std::string name;
    // Nothing when the device's numbers cannot be read (the device cannot be
    // talked to: it gets no record and cannot be opened).
    std::optional<UsbNumbers> numbers;
    // The first BSD-style name (network interface or disk) on the device or
    // below it, never one that belongs to another USB device hanging below it.
    std::optional<std::string> bsdName;
};

// The outcome of a registry call that may fail. `code` is the platform's error
// number (errno on Linux) when `kind` is Failed.
struct [[nodiscard]] UsbResult {
    enum class Kind { Success, ExclusiveAccess, Failed };
    Kind kind = Kind::Success;
    int code = 0;

    static UsbResult success() { return {}; }
    // Another client holds the device; nothing was changed.
    static UsbResult exclusiveAccess() { return {Kind::ExclusiveAccess, 0}; }
    static UsbResult failed(int code) { return {Kind::Failed, code}; }
    bool ok() const { return kind == Kind::Success; }
};

// A device opened for a configuration change; closed when destroyed.
class UsbDeviceInterface {
  public:
    virtual ~UsbDeviceInterface() = default;

    // The bConfigurationValue of the configuration at index 0 (not index + 1:
    // devices number their configurations as they like). Nothing, and an error
    // number in `error`, when the descriptor cannot be read or is malformed.
    virtual std::optional<std::uint8_t> firstConfigurationValue(int* error) = 0;

    // Makes the configuration with this value the active one.
    virtual UsbResult setConfiguration(std::uint8_t value) = 0;

    // Where a configuration change is written (for messages; sysfs: the
    // attribute's path).
    virtual std::string configurationTarget() const = 0;
};

// What the hotspot guard needs of the platform's USB device registry.
class UsbRegistry {
  public:
    virtual ~UsbRegistry() = default;

    // The USB devices attached now, in the registry's order (hubs included).
    virtual std::vector<UsbDeviceEntry> devices() = 0;

    // Opens a device listed by `devices` for a configuration change. On failure
    // returns null and the reason in `result`: ExclusiveAccess when another
    // client holds the device, Failed with an error number otherwise (a device
    // that has gone or changed since it was listed is Failed with ENODEV).
    virtual std::unique_ptr<UsbDeviceInterface> openDevice(const UsbDeviceEntry& device,
                                                           UsbResult* result) = 0;
};

}  // namespace ww
