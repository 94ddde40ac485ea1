#pragma once

#include <memory>
#include <vector>

#include "usb/UsbRegistry.h"

namespace ww {

// Passes everything through to another registry and counts the configuration
// changes that succeeded, so that the agent tells the user only about a
// hotspot it really shut off.
class ReportingUsbRegistry final : public UsbRegistry {
  public:
    explicit ReportingUsbRegistry(UsbRegistry& inner) : m_inner(inner) {}
    std::vector<UsbDeviceEntry> devices() override { return m_inner.devices(); }
    std::unique_ptr<UsbDeviceInterface> openDevice(const UsbDeviceEntry& device,
                                                   UsbResult* result) override;
    int changesMade() const { return *m_changes; }

  private:
    UsbRegistry& m_inner;
    std::shared_ptr<int> m_changes = std::make_shared<int>(0);
};

}  // namespace ww
