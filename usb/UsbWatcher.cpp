#include "usb/UsbWatcher.h"

#include <cstdint>

#include "platform/foundation/Format.h"
#include "platform/foundation/NotificationCenter.h"

namespace ww {

namespace {

constexpr std::size_t kMaxRegistryNameBytes = 127;

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one.
std::size_t utf8SequenceLength(std::string_view s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 0;
    if (b < 0x80) return 1;
    if (b >= 0xc2 && b <= 0xdf) {
        n = 2;
    } else if (b >= 0xe0 && b <= 0xef) {
        n = 3;
    } else if (b >= 0xf0 && b <= 0xf4) {
        n = 4;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    const auto b1 = static_cast<unsigned char>(s[i + 1]);
    // The second byte's range rules out overlong forms, surrogates and values
    // above U+10FFFF.
    unsigned char lo = 0x80, hi = 0xbf;
    if (b == 0xe0) lo = 0xa0;
    if (b == 0xed) hi = 0x9f;
    if (b == 0xf0) lo = 0x90;
    if (b == 0xf4) hi = 0x8f;
    if (b1 < lo || b1 > hi) return 0;
    for (std::size_t k = 2; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if (c < 0x80 || c > 0xbf) return 0;
    }
    return n;
}

}  // namespace

std::string usbRegistryNameText(std::string_view raw) {
    raw = raw.substr(0, raw.find('\0'));
    std::string out;
    std::size_t i = 0;
    while (i < raw.size()) {
        std::size_t n = utf8SequenceLength(raw, i);
        const auto b = static_cast<unsigned char>(raw[i]);
        const bool replace = n == 0 || (n == 1 && (b < 0x20 || b == 0x7f));
        const std::size_t width = replace ? 1 : n;
        if (out.size() + width > kMaxRegistryNameBytes) break;  // never half a character
        if (replace) {
            out += '?';
            i += 1;
        } else {
            out.append(raw.substr(i, n));
            i += n;
        }
    }
    return out;
}

plist::Value usbDeviceRecord(const std::string& deviceName, UsbNumbers numbers,
                             const std::string& bsdName) {
    plist::Value record = plist::Value::dictionary();
    record.set(kDeviceNameKey, plist::Value::string(deviceName));
    record.set(kVendorIDKey, plist::Value::integer(numbers.vendorID));
    record.set(kProductIDKey, plist::Value::integer(numbers.productID));
    record.set(kBsdNameKey, plist::Value::string(bsdName));
    return record;
}

void usbDeviceEvent(const char* reference, UsbRegistry& registry, UsbConsole& console) {
    console.systemLog("usbDeviceEvent");
    const char* ref = reference ? reference : "(null)";

    plist::Value::Array records;
    for (const UsbDeviceEntry& device : registry.devices()) {
        const std::string name = usbRegistryNameText(device.name);
        console.standardError("deviceName: " + name + "\n");
        console.standardError("bsdName: " + device.bsdName.value_or("(null)") + "\n");

        // A device whose numbers cannot be read cannot be talked to: no record.
        if (!device.numbers) continue;
        console.standardError(format("%s: vid = 0x%04x pid = 0x%04x\n", ref,
                                     unsigned{device.numbers->vendorID},
                                     unsigned{device.numbers->productID}));
        if (device.bsdName)
            records.push_back(usbDeviceRecord(name, *device.numbers, *device.bsdName));
    }

    plist::Value userInfo = plist::Value::dictionary();
    userInfo.set(kAllDevicesKey, plist::Value::array(std::move(records)));
    NotificationCenter::defaultCenter().post(kDetectedConnectedUSBHotspotNotification, nullptr,
                                             std::move(userInfo));
}

namespace WWUtils {

void detectConnectedUSBHotspot(UsbRegistry& registry, UsbConsole& console) {
    // Each start lists the devices attached now; there is no registration to
    // keep between starts, as the check's thread never waits for later arrivals.
    usbDeviceEvent("added", registry, console);
}

}  // namespace WWUtils

}  // namespace ww
