// Writes a fake sysfs tree for demos of the USB guard:
//   usb_fake_sysfs DIR [INTERFACE]
// A phone tethering with network interface INTERFACE (default eth1) below an
// external hub, a keyboard and a USB stick (disk sdb), on two root hubs.
// DIR must not hold a tree yet. Run the agent with --usb-root DIR afterwards.

#include <cstdio>
#include <exception>
#include <string>

#include "tests/support/usb_FakeSysfs.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s DIR [INTERFACE]\n", argv[0]);
        return 2;
    }
    try {
        ww::test::FakeSysfs tree(argv[1]);
        const std::string phone = addUsbMachine(tree, argc == 3 ? argv[2] : "eth1").phone;
        std::printf("%s/%s/bConfigurationValue\n", tree.root().c_str(),
                    tree.deviceDirectory(phone).c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
