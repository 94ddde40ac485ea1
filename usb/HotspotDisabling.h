#pragma once

#include <cstdint>
#include <string>

#include "discovery/InterfaceInfo.h"
#include "platform/foundation/NotificationCenter.h"
#include "usb/UsbConsole.h"
#include "usb/UsbRegistry.h"

namespace ww {

// The application delegate's handler of "detectedConnectedUSBHotspotNotification":
// for every hotspot interface, in list order, the first device record whose
// "bsdName" equals the interface's BSD name (exactly) is disabled. Logs, as
// info under the operation name "usbDeviceDetected":
//   "deviceDetected:%@" with the device list,
//   "inteface  = %@ and info=%@" per hotspot interface with its matches,
//   "AppDelegate:usbDeviceDetected disabling (%@) and thisInterfaceInfo=%@"
//   before each disabling.
// Does nothing more when the hotspot list or the device list is empty.
void usbDeviceDetected(const Notification& notification,
                       const InterfaceList& hotspotInterfacesToDelete, UsbRegistry& registry,
                       UsbConsole& console = UsbConsole::standard());

namespace WWUtils {

// Shuts off a USB-tethered hotspot by making the device's first configuration
// the active one. Acts on the attached device with these numbers whose BSD
// name is `bsdName` (with two identical phones attached, only the tethering
// one is touched). Its outcomes bypass the log core:
//   both numbers 0            system log "vendorID & productID are null."
//   no such device            standard output "Device not found\n"
//   another client holds it   nothing
//   open or write fails       standard output "Could not open device (error: %x)\n"
//   descriptor unreadable     standard output "Could not set active configuration (error: %x)\n"
void disableConnectedUSBHotspotForVendorID(UsbRegistry& registry, std::int32_t vendorID,
                                           std::int32_t productID, const std::string& bsdName,
                                           UsbConsole& console = UsbConsole::standard());

}  // namespace WWUtils

}  // namespace ww
