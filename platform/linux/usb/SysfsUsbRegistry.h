#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "usb/UsbRegistry.h"

namespace ww::sysfs {

// How the registry writes a sysfs attribute. The kernel reports a refused
// configuration change (EBUSY while another client holds the device, EACCES
// without root) as the write's error; tests replace the writer to produce
// those, since a write to a plain file never fails that way.
class AttributeWriter {
  public:
    virtual ~AttributeWriter() = default;
    // Writes `bytes` to the existing file at `path` in one write(2), never
    // following a symbolic link at the end of the path. Returns 0 or the errno.
    virtual int writeAttribute(const std::string& path, std::string_view bytes) = 0;

    static AttributeWriter& real();
};

// The USB registry over sysfs, below a root directory ("/sys", or a fake tree
// for tests and demos):
// - the devices are the entries of ROOT/bus/usb/devices that have an idVendor
//   file (interface entries "<bus-path>:<c>.<i>" have none), in name order;
//   an entry whose link leads outside the root is ignored;
// - the name is the `product` string (empty when missing), the numbers are
//   idVendor and idProduct in hexadecimal;
// - the BSD name is the first network interface (".../net/<name>") or block
//   device (".../block/<name>") found walking the device's own directory
//   depth-first in name order. The walk follows no symbolic links, does not
//   enter the directories of USB devices hanging below (a hub would take the
//   name of a phone plugged into it) and gives up below kMaxSearchDepth
//   levels or after visiting `maxSearchDirectories` directories;
// - the first configuration's value comes from the `descriptors` file, and a
//   configuration change is a write of the value to `bConfigurationValue`.
class SysfsUsbRegistry final : public UsbRegistry {
  public:
    static constexpr int kMaxSearchDepth = 16;
    static constexpr int kMaxSearchDirectories = 4096;

    explicit SysfsUsbRegistry(std::string root = "/sys",
                              AttributeWriter& writer = AttributeWriter::real(),
                              int maxSearchDirectories = kMaxSearchDirectories);

    const std::string& root() const { return m_root; }

    std::vector<UsbDeviceEntry> devices() override;

    // Checks that the device is still attached with the numbers it was listed
    // with (else ENODEV). Nothing is written before setConfiguration; its
    // errors are the kernel's answer to the write: EBUSY is ExclusiveAccess.
    // A descriptor that cannot be read gives its errno, a truncated or
    // malformed one EIO.
    std::unique_ptr<UsbDeviceInterface> openDevice(const UsbDeviceEntry& device,
                                                   UsbResult* result) override;

    // The real directory of the bus entry `registryID`, when it has an idVendor
    // file and lies inside the root.
    std::optional<std::string> deviceDirectory(const std::string& registryID) const;

  private:
    std::string m_root;
    AttributeWriter& m_writer;
    int m_maxSearchDirectories;
};

}  // namespace ww::sysfs
