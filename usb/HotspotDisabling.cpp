#include "usb/HotspotDisabling.h"

#include <optional>

#include "logging/DDLog.h"
#include "platform/foundation/Format.h"
#include "usb/UsbWatcher.h"

namespace ww {

namespace {

constexpr char kHandlerName[] = "usbDeviceDetected";

// A record number as a signed 32-bit value; a missing or non-numeric entry is 0.
std::int32_t recordNumber(const plist::Value& record, const char* key) {
    const plist::Value* v = record.find(key);
    if (!v) return 0;
    return static_cast<std::int32_t>(v->integerValue().value_or(0));
}

// Reports an open or write failure; another client holding the device is silent.
void reportOpenFailure(const UsbResult& result, UsbConsole& console) {
    if (result.kind == UsbResult::Kind::Failed) {
        console.standardOutput(format("Could not open device (error: %x)\n", result.code));
    }
}

}  // namespace

void usbDeviceDetected(const Notification& notification,
                       const InterfaceList& hotspotInterfacesToDelete, UsbRegistry& registry,
                       UsbConsole& console) {
    const plist::Value* devices = notification.userInfo.find(kAllDevicesKey);
    WWLogInfoIn(kHandlerName, "deviceDetected:%@", devices);

    const plist::Value::Array* list = devices ? devices->arrayValue() : nullptr;
    if (hotspotInterfacesToDelete.empty() || !list || list->empty()) return;

    for (const InterfaceInfoPtr& r : hotspotInterfacesToDelete) {
        if (!r) continue;
        const std::optional<std::string> bsdName = r->BSDName.get();
        plist::Value::Array matches;
        for (const plist::Value& record : *list) {
            const plist::Value* name = record.find(kBsdNameKey);
            const std::string* text = name ? name->stringValue() : nullptr;
            if (bsdName && text && *text == *bsdName) matches.push_back(record);
        }
        const plist::Value matchList = plist::Value::array(matches);
        WWLogInfoIn(kHandlerName, "inteface  = %@ and info=%@", r, matchList);
        if (matches.empty()) continue;

        const plist::Value& m = matches.front();
        WWLogInfoIn(kHandlerName,
                    "AppDelegate:usbDeviceDetected disabling (%@) and thisInterfaceInfo=%@",
                    r->toString(), m);
        WWUtils::disableConnectedUSBHotspotForVendorID(
            registry, recordNumber(m, kVendorIDKey), recordNumber(m, kProductIDKey),
            *m.find(kBsdNameKey)->stringValue(), console);
    }
}

namespace WWUtils {

void disableConnectedUSBHotspotForVendorID(UsbRegistry& registry, std::int32_t vendorID,
                                           std::int32_t productID, const std::string& bsdName,
                                           UsbConsole& console) {
    if (vendorID == 0 && productID == 0) {
        console.systemLog("vendorID & productID are null.");
        return;
    }

    // The BSD name picks the device: two identical phones share the numbers.
    std::optional<UsbDeviceEntry> target;
    for (UsbDeviceEntry& d : registry.devices()) {
        if (d.numbers && d.numbers->vendorID == vendorID && d.numbers->productID == productID &&
            d.bsdName == bsdName) {
            target = std::move(d);
            break;
        }
    }
    if (!target) {
        console.standardOutput("Device not found\n");
        return;
    }

    UsbResult opened;
    std::unique_ptr<UsbDeviceInterface> device = registry.openDevice(*target, &opened);
    if (!device) {
        reportOpenFailure(opened, console);
        return;
    }

    int error = 0;
    const std::optional<std::uint8_t> value = device->firstConfigurationValue(&error);
    if (!value) {
        console.standardOutput(format("Could not set active configuration (error: %x)\n", error));
        return;
    }
    // On Linux the write is where the kernel claims the device, so its
    // failures are the open failures.
    reportOpenFailure(device->setConfiguration(*value), console);
}

}  // namespace WWUtils

}  // namespace ww
