#include "app/ReportingUsbRegistry.h"

namespace ww {

namespace {

class ReportingDevice final : public UsbDeviceInterface {
  public:
    ReportingDevice(std::unique_ptr<UsbDeviceInterface> inner, std::string bsdName,
                    const ReportingUsbRegistry::Report& report)
        : m_inner(std::move(inner)), m_bsdName(std::move(bsdName)), m_report(report) {}

    std::optional<std::uint8_t> firstConfigurationValue(int* error) override {
        return m_inner->firstConfigurationValue(error);
    }
    UsbResult setConfiguration(std::uint8_t value) override {
        UsbResult result = m_inner->setConfiguration(value);
        if (m_report) m_report(m_bsdName, result);
        return result;
    }
    std::string configurationTarget() const override { return m_inner->configurationTarget(); }

  private:
    std::unique_ptr<UsbDeviceInterface> m_inner;
    std::string m_bsdName;
    const ReportingUsbRegistry::Report& m_report;
};

}  // namespace

std::unique_ptr<UsbDeviceInterface> ReportingUsbRegistry::openDevice(const UsbDeviceEntry& device,
                                                                     UsbResult* result) {
    std::unique_ptr<UsbDeviceInterface> inner = m_inner.openDevice(device, result);
    if (!inner) return nullptr;
    return std::make_unique<ReportingDevice>(std::move(inner), device.bsdName.value_or(""),
                                             m_report);
}

}  // namespace ww
