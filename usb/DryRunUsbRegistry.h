#pragma once

#include <memory>
#include <vector>

#include "usb/UsbRegistry.h"

namespace ww {

// A registry for --dry-run: lists, opens and reads through another registry,
// but a configuration change is only logged (info, "dry run: would write %u
// to %@ ...") and reported as done. Nothing is written to any device.
class DryRunUsbRegistry final : public UsbRegistry {
  public:
    explicit DryRunUsbRegistry(UsbRegistry& inner) : m_inner(inner) {}

    std::vector<UsbDeviceEntry> devices() override { return m_inner.devices(); }
    std::unique_ptr<UsbDeviceInterface> openDevice(const UsbDeviceEntry& device,
                                                   UsbResult* result) override;

  private:
    UsbRegistry& m_inner;
};

}  // namespace ww
