#include "usb/ReportingUsbRegistry.h"

namespace ww {

namespace {

class ReportingDevice final : public UsbDeviceInterface {
  public:
    ReportingDevice(std::unique_ptr<UsbDeviceInterface> inner, std::shared_ptr<int> changes)
        : m_inner(std::move(inner)), m_changes(std::move(changes)) {}
    std::optional<std::uint8_t> firstConfigurationValue(int* error) override {
        return m_inner->firstConfigurationValue(error);
    }
    UsbResult setConfiguration(std::uint8_t value) override {
        UsbResult r = m_inner->setConfiguration(value);
        if (r.ok()) ++*m_changes;
        return r;
    }
    std::string configurationTarget() const override { return m_inner->configurationTarget(); }

  private:
    std::unique_ptr<UsbDeviceInterface> m_inner;
    std::shared_ptr<int> m_changes;
};

}  // namespace

std::unique_ptr<UsbDeviceInterface> ReportingUsbRegistry::openDevice(const UsbDeviceEntry& device,
                                                                     UsbResult* result) {
    auto inner = m_inner.openDevice(device, result);
    if (!inner) return nullptr;
    return std::make_unique<ReportingDevice>(std::move(inner), m_changes);
}

}  // namespace ww
