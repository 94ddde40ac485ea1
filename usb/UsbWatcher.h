#pragma once

#include <string>
#include <string_view>

#include "platform/foundation/Plist.h"
#include "usb/UsbConsole.h"
#include "usb/UsbRegistry.h"

namespace ww {

// The notification that announces the attached USB devices, and its keys.
inline constexpr char kDetectedConnectedUSBHotspotNotification[] =
    "detectedConnectedUSBHotspotNotification";
inline constexpr char kAllDevicesKey[] = "AllDevices";
// Keys of one device record.
inline constexpr char kDeviceNameKey[] = "deviceName";
inline constexpr char kVendorIDKey[] = "vendorID";
inline constexpr char kProductIDKey[] = "productID";
inline constexpr char kBsdNameKey[] = "bsdName";

// A registry name as the watcher shows and records it: at most 127 bytes (the
// registry's name buffer), cut at a NUL byte, and with control characters and
// bytes that are not UTF-8 replaced by '?', so that the text is safe on a
// terminal and in a property list.
std::string usbRegistryNameText(std::string_view raw);

// The device record {"deviceName", "vendorID", "productID", "bsdName"}.
plist::Value usbDeviceRecord(const std::string& deviceName, UsbNumbers numbers,
                             const std::string& bsdName);

// The device handler: writes "usbDeviceEvent" to the system log, two lines per
// device to standard error ("deviceName: ...", "bsdName: ...") and, for a
// device whose numbers can be read, "<reference>: vid = 0x%04x pid = 0x%04x".
// Devices with numbers and a BSD name become records; the list, in registry
// order and possibly empty, is posted as "detectedConnectedUSBHotspotNotification"
// with {"AllDevices": list} on the default notification centre. Posting is
// synchronous: the observers run on this thread before this returns.
void usbDeviceEvent(const char* reference, UsbRegistry& registry,
                    UsbConsole& console = UsbConsole::standard());

namespace WWUtils {

// The watcher's start: hands every USB device attached at this moment to
// usbDeviceEvent with the reference "added". Called by the network inventory
// on the check's thread; a device that arrives later is seen at the next start.
void detectConnectedUSBHotspot(UsbRegistry& registry, UsbConsole& console = UsbConsole::standard());

}  // namespace WWUtils

}  // namespace ww
