#pragma once

// Fake sysfs trees for the USB registry, laid out as the kernel lays them out:
//
//   ROOT/devices/pci0000:00/0000:00:14.0/usb1/                 root hub (a device)
//   ROOT/devices/pci0000:00/0000:00:14.0/usb1/1-0:1.0/         its hub interface
//   ROOT/devices/pci0000:00/0000:00:14.0/usb1/1-2/             device on port 2
//   ROOT/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2.4/       device on port 4 of hub 1-2
//   .../1-2.4/1-2.4:3.2/net/eth1/                              its network interface
//   .../2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb/       a USB stick's disk
//   ROOT/bus/usb/devices/<entry> -> ../../../devices/...       flat, relative links
//
// with the attribute files the registry reads (idVendor, idProduct, product,
// bConfigurationValue, descriptors) and the links that lead elsewhere (driver,
// subsystem, port, net/<name>/device back up to the interface). A tree lives
// in its own temporary folder, removed with the object.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/common_TestSupport.h"

namespace ww::test {

struct UsbInterfaceSpec {
    std::uint8_t number = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t subClass = 0;
    std::uint8_t protocol = 0;
    std::uint8_t endpoints = 0;
    std::string driver;  // bound driver's name, empty for none
};

struct UsbConfigurationSpec {
    std::uint8_t value = 1;  // bConfigurationValue
    std::vector<UsbInterfaceSpec> interfaces;
};

struct UsbDeviceSpec {
    std::uint16_t vendorID = 0;
    std::uint16_t productID = 0;
    std::optional<std::string> product;  // no `product` file when absent
    std::uint8_t deviceClass = 0;
    // In index order; the descriptors file lists them so.
    std::vector<UsbConfigurationSpec> configurations;
    std::uint8_t activeConfiguration = 1;  // a value; its interfaces get directories
};

// The bytes of a `descriptors` file: the device descriptor, then each
// configuration's whole block (configuration, interface and endpoint
// descriptors) with its wTotalLength.
inline std::string usbDescriptors(const UsbDeviceSpec& spec) {
    std::string out;
    auto put = [&out](std::initializer_list<unsigned> bytes) {
        for (unsigned b : bytes) out.push_back(static_cast<char>(b & 0xff));
    };
    put({18, 1, 0x00, 0x02, spec.deviceClass, 0, 0, 64, spec.vendorID & 0xffu,
         unsigned(spec.vendorID) >> 8, spec.productID & 0xffu, unsigned(spec.productID) >> 8, 0x00,
         0x01, 1, 2, 3, unsigned(spec.configurations.size())});
    for (const UsbConfigurationSpec& c : spec.configurations) {
        const std::size_t start = out.size();
        put({9, 2, 0, 0, unsigned(c.interfaces.size()), c.value, 0, 0xc0, 250});
        for (const UsbInterfaceSpec& i : c.interfaces) {
            put({9, 4, i.number, 0, i.endpoints, i.interfaceClass, i.subClass, i.protocol, 0});
            for (unsigned e = 0; e < i.endpoints; ++e) put({7, 5, 0x81 + e, 0x02, 0, 2, 0});
        }
        const std::size_t total = out.size() - start;
        out[start + 2] = static_cast<char>(total & 0xff);
        out[start + 3] = static_cast<char>(total >> 8);
    }
    return out;
}

// ---- devices as they are sold ----------------------------------------------------------

// An iPhone sharing its connection: four configurations whose values are not
// index + 1 (the first one, value 2, is still image only), the active one with
// the Apple Ethernet interface (class 255, subclass 253, protocol 1) as number 2.
inline UsbDeviceSpec iPhoneSpec(std::uint16_t productID = 0x12a8) {
    const UsbInterfaceSpec ptp{0, 6, 1, 1, 3, "usbfs"}, tether{1, 255, 254, 2, 2, ""};
    return {0x05ac,
            productID,
            "iPhone",
            0,
            {{2, {ptp}},
             {1,
              {ptp,
               {1, 1, 1, 0, 0, "snd-usb-audio"},
               {2, 1, 2, 0, 1, "snd-usb-audio"},
               {3, 3, 0, 0, 1, "usbhid"}}},
             {4, {ptp, tether}},
             {3, {ptp, tether, {2, 255, 253, 1, 2, "ipheth"}}}},
            3};
}

inline UsbDeviceSpec keyboardSpec() {
    const UsbInterfaceSpec keys{0, 3, 1, 1, 1, "usbhid"}, media{1, 3, 0, 0, 1, "usbhid"};
    return {0x046d, 0xc31c, "USB Keyboard", 0, {{1, {keys, media}}}, 1};
}

inline UsbDeviceSpec usbStickSpec() {
    return {0x0781, 0x5567, "Cruzer Blade", 0, {{1, {{0, 8, 6, 80, 2, "usb-storage"}}}}, 1};
}

inline UsbDeviceSpec externalHubSpec() {
    return {0x05e3, 0x0610, "USB2.1 Hub", 9, {{1, {{0, 9, 0, 1, 1, "hub"}}}}, 1};
}

// ---- the tree ----------------------------------------------------------------------------

class FakeSysfs {
  public:
    FakeSysfs() {
        for (const char* dir :
             {"bus/usb/devices", "bus/usb/drivers/usb", "class/net", "class/block"}) {
            makeDirectory(dir);
        }
    }

    const std::string& root() const { return m_root.path(); }
    std::string path(const std::string& relative) const { return m_root.file(relative); }

    // The root hub of bus `bus` below its host controller; returns "usb<bus>".
    std::string addRootHub(int bus) {
        const UsbDeviceSpec s{
            0x1d6b, 0x0002, "xHCI Host Controller", 9, {{1, {{0, 9, 0, 0, 1, "hub"}}}}, 1};
        const std::string id = "usb" + std::to_string(bus);
        char controller[64];
        std::snprintf(controller, sizeof controller, "devices/pci0000:00/0000:00:%02x.0",
                      0x13 + bus);
        makeDevice(id, std::string(controller) + "/" + id, std::to_string(bus) + "-0", s);
        return id;
    }

    // A device on `port` of the hub `parent` (a bus entry name); returns its bus
    // entry name ("1-2" on a root hub, "1-2.4" on hub 1-2).
    std::string addDevice(const std::string& parent, int port, const UsbDeviceSpec& spec) {
        const Device& hub = m_devices.at(parent);
        const std::string id =
            (parent.rfind("usb", 0) == 0 ? parent.substr(3) + "-" : parent + ".") +
            std::to_string(port);
        makeDevice(id, hub.directory + "/" + id, id, spec);
        // The kernel links a device to its hub's port.
        const std::string portDir = hub.directory + "/" + hub.interfacePrefix + ":" +
                                    std::to_string(hub.activeConfiguration) + ".0/" + parent +
                                    "-port" + std::to_string(port);
        makeDirectory(portDir);
        link(m_devices.at(id).directory + "/port", portDir);
        return id;
    }

    // A network interface provided by interface `number` of the device's active
    // configuration: "<device>:<c>.<number>/net/<name>".
    void addNetworkInterface(const std::string& device, int number, const std::string& name) {
        const std::string iface = interfaceDirectory(device, number);
        const std::string dir = iface + "/net/" + name;
        makeDirectory(dir);
        link(dir + "/device", iface);  // back up: a loop for anyone who follows links
        link(dir + "/subsystem", "class/net");
        link("class/net/" + name, dir);
    }

    // A disk (with one partition) behind SCSI host `host` on interface `number`.
    void addBlockDevice(const std::string& device, int number, const std::string& name, int host) {
        const std::string h = std::to_string(host);
        const std::string scsi = interfaceDirectory(device, number) + "/host" + h + "/target" + h +
                                 ":0:0/" + h + ":0:0:0";
        const std::string dir = scsi + "/block/" + name;
        makeDirectory(dir + "/" + name + "1");
        link(dir + "/device", scsi);
        link(dir + "/subsystem", "class/block");
        link("class/block/" + name, dir);
    }

    // The device's real directory, relative to the root.
    std::string deviceDirectory(const std::string& id) const { return m_devices.at(id).directory; }
    std::string interfaceDirectory(const std::string& device, int number) const {
        const Device& d = m_devices.at(device);
        return d.directory + "/" + d.interfacePrefix + ":" + std::to_string(d.activeConfiguration) +
               "." + std::to_string(number);
    }
    // The bConfigurationValue file's contents.
    std::string configurationValue(const std::string& id) const {
        return readFile(deviceDirectory(id) + "/bConfigurationValue");
    }

    void writeFile(const std::string& relative, const std::string& bytes) {
        std::filesystem::create_directories(std::filesystem::path(path(relative)).parent_path());
        std::ofstream f(path(relative), std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!f) throw std::runtime_error("cannot write " + relative);
    }
    std::string readFile(const std::string& relative) const {
        return test::readFile(path(relative));
    }
    // A relative symbolic link at `from` to `to` (both relative to the root).
    void link(const std::string& from, const std::string& to) {
        namespace fs = std::filesystem;
        const fs::path linkPath = path(from);
        fs::create_directories(linkPath.parent_path());
        fs::create_directory_symlink(fs::path(path(to)).lexically_relative(linkPath.parent_path()),
                                     linkPath);
    }
    // A symbolic link with exactly this target text.
    void rawLink(const std::string& from, const std::string& target) {
        std::filesystem::create_directories(std::filesystem::path(path(from)).parent_path());
        std::filesystem::create_directory_symlink(target, path(from));
    }
    void makeDirectory(const std::string& relative) {
        std::filesystem::create_directories(path(relative));
    }

  private:
    struct Device {
        std::string directory;
        std::string interfacePrefix;  // "1-2", or "1-0" for root hub usb1
        std::uint8_t activeConfiguration;
    };

    void makeDevice(const std::string& id, const std::string& dir, const std::string& prefix,
                    const UsbDeviceSpec& s) {
        makeDirectory(dir + "/ep_00");
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04x\n", s.vendorID);
        writeFile(dir + "/idVendor", hex);
        std::snprintf(hex, sizeof hex, "%04x\n", s.productID);
        writeFile(dir + "/idProduct", hex);
        if (s.product) writeFile(dir + "/product", *s.product + "\n");
        writeFile(dir + "/bConfigurationValue", std::to_string(s.activeConfiguration) + "\n");
        writeFile(dir + "/descriptors", usbDescriptors(s));
        link(dir + "/subsystem", "bus/usb");
        link(dir + "/driver", "bus/usb/drivers/usb");
        link("bus/usb/devices/" + id, dir);
        for (const UsbConfigurationSpec& c : s.configurations) {
            if (c.value != s.activeConfiguration) continue;
            for (const UsbInterfaceSpec& i : c.interfaces) {
                const std::string name =
                    prefix + ":" + std::to_string(c.value) + "." + std::to_string(i.number);
                const std::string idir = dir + "/" + name;
                for (unsigned e = 0; e < i.endpoints; ++e) {
                    std::snprintf(hex, sizeof hex, "%02x", 0x81 + e);
                    makeDirectory(idir + "/ep_" + hex);
                }
                link(idir + "/subsystem", "bus/usb");
                if (!i.driver.empty()) {
                    makeDirectory("bus/usb/drivers/" + i.driver);
                    link(idir + "/driver", "bus/usb/drivers/" + i.driver);
                }
                link("bus/usb/devices/" + name, idir);
            }
        }
        m_devices[id] = Device{dir, prefix, s.activeConfiguration};
    }

    TempDir m_root;
    std::map<std::string, Device> m_devices;
};

// The machine most tests use: on bus 1 a phone tethering with network
// interface `interface` below an external hub, and a keyboard; on bus 2 a USB
// stick with disk sdb.
struct UsbMachine {
    std::string hub, phone, keyboard, stick;
};
inline UsbMachine addUsbMachine(FakeSysfs& tree, const std::string& interface = "eth1") {
    UsbMachine m;
    tree.addRootHub(1);
    tree.addRootHub(2);
    m.hub = tree.addDevice("usb1", 2, externalHubSpec());
    m.phone = tree.addDevice(m.hub, 4, iPhoneSpec());
    tree.addNetworkInterface(m.phone, 2, interface);
    m.keyboard = tree.addDevice("usb1", 3, keyboardSpec());
    m.stick = tree.addDevice("usb2", 1, usbStickSpec());
    tree.addBlockDevice(m.stick, 0, "sdb", 6);
    return m;
}

}  // namespace ww::test
