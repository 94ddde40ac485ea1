#include "usb/DryRunUsbRegistry.h"

#include <string>

#include "logging/DDLog.h"

namespace ww {

namespace {

class DryRunDevice final : public UsbDeviceInterface {
  public:
    DryRunDevice(std::unique_ptr<UsbDeviceInterface> inner, UsbDeviceEntry entry)
        : m_inner(std::move(inner)), m_entry(std::move(entry)) {}

    std::optional<std::uint8_t> firstConfigurationValue(int* error) override {
        return m_inner->firstConfigurationValue(error);
    }

    UsbResult setConfiguration(std::uint8_t value) override {
        const UsbNumbers n = m_entry.numbers.value_or(UsbNumbers{});
        WWLogInfoIn("disableConnectedUSBHotspotForVendorID",
                    "dry run: would write %u to %@ (device \"%@\" vid = 0x%04x pid = 0x%04x "
                    "bsdName = %@)",
                    unsigned{value}, m_inner->configurationTarget(), m_entry.name,
                    unsigned{n.vendorID}, unsigned{n.productID}, m_entry.bsdName);
        return UsbResult::success();
    }

    std::string configurationTarget() const override { return m_inner->configurationTarget(); }

  private:
    std::unique_ptr<UsbDeviceInterface> m_inner;
    UsbDeviceEntry m_entry;
};

}  // namespace

std::unique_ptr<UsbDeviceInterface> DryRunUsbRegistry::openDevice(const UsbDeviceEntry& device,
                                                                  UsbResult* result) {
    std::unique_ptr<UsbDeviceInterface> inner = m_inner.openDevice(device, result);
    if (!inner) return nullptr;
    return std::make_unique<DryRunDevice>(std::move(inner), device);
}

}  // namespace ww
