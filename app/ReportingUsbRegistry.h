#pragma once

#include <functional>
#include <memory>
#include <string>

#include "usb/UsbRegistry.h"

namespace ww {

// Passes everything through to another registry and reports each
// configuration change the hotspot guard makes (the device's BSD name and the
// outcome), so that a shut-off hotspot becomes an event.
class ReportingUsbRegistry final : public UsbRegistry {
  public:
    using Report = std::function<void(const std::string& bsdName, const UsbResult& result)>;

    ReportingUsbRegistry(UsbRegistry& inner, Report report)
        : m_inner(inner), m_report(std::move(report)) {}

    std::vector<UsbDeviceEntry> devices() override { return m_inner.devices(); }
    std::unique_ptr<UsbDeviceInterface> openDevice(const UsbDeviceEntry& device,
                                                   UsbResult* result) override;

  private:
    UsbRegistry& m_inner;
    Report m_report;
};

}  // namespace ww
