#include "platform/linux/wifi/Rfkill.h"

#include <fcntl.h>
#include <linux/rfkill.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/foundation/FileUtil.h"
#include "platform/foundation/Text.h"

namespace ww::linuxwifi {

namespace {

std::optional<std::string> readTrimmed(const std::string& path) {
    auto text = file::readAll(path);
    if (!text) return std::nullopt;
    return std::string(text::trim(*text));
}

std::optional<std::uint32_t> readNumber(const std::string& path) {
    auto text = readTrimmed(path);
    if (!text || text->empty() || text->size() > 9) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return v;
}

}  // namespace

std::optional<std::string> Rfkill::phyOf(const std::string& netdev) const {
    if (netdev.empty() || netdev.find('/') != std::string::npos) return std::nullopt;
    const std::string link = m_root + "/class/net/" + netdev + "/phy80211";
    // The link's own name file is the phy's name; a link without one (a fake
    // tree) is named by its target.
    if (auto name = readTrimmed(link + "/name"); name && !name->empty()) return name;
    std::error_code ec;
    auto target = std::filesystem::read_symlink(link, ec);
    if (ec) {
        if (!std::filesystem::is_directory(link, ec)) return std::nullopt;
        target = std::filesystem::canonical(link, ec);
        if (ec) return std::nullopt;
    }
    std::string name = target.filename().string();
    if (name.empty()) return std::nullopt;
    return name;
}

std::optional<RfkillSwitch> Rfkill::switchOf(const std::string& phy) const {
    if (phy.empty() || phy.find('/') != std::string::npos) return std::nullopt;
    const std::string folder = m_root + "/class/ieee80211/" + phy;
    std::vector<RfkillSwitch> found;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("rfkill", 0) != 0 || name.size() == 6) continue;
        if (!std::all_of(name.begin() + 6, name.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const std::string dir = entry.path().string();
        auto type = readTrimmed(dir + "/type");
        auto index = readNumber(dir + "/index");
        if (!index || (type && *type != "wlan")) continue;
        RfkillSwitch s;
        s.index = *index;
        s.name = name;
        s.soft = readNumber(dir + "/soft").value_or(0) != 0;
        s.hard = readNumber(dir + "/hard").value_or(0) != 0;
        found.push_back(s);
    }
    if (found.empty()) return std::nullopt;
    return *std::min_element(
        found.begin(), found.end(),
        [](const RfkillSwitch& a, const RfkillSwitch& b) { return a.index < b.index; });
}

std::optional<RfkillSwitch> Rfkill::switchOfDevice(const std::string& netdev) const {
    auto phy = phyOf(netdev);
    if (!phy) return std::nullopt;
    return switchOf(*phy);
}

std::string Rfkill::changeEvent(std::uint32_t index, bool blocked) {
    rfkill_event event{};
    event.idx = index;
    event.type = RFKILL_TYPE_WLAN;
    event.op = RFKILL_OP_CHANGE;
    event.soft = blocked ? 1 : 0;
    event.hard = 0;
    return std::string(reinterpret_cast<const char*>(&event), RFKILL_EVENT_SIZE_V1);
}

bool Rfkill::setSoftBlock(std::uint32_t index, bool blocked, std::string& error) const {
    int fd = ::open(m_device.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "cannot open " + m_device + ": " + std::strerror(errno);
        return false;
    }
    std::string event = changeEvent(index, blocked);
    ssize_t n;
    do {
        n = ::write(fd, event.data(), event.size());
    } while (n < 0 && errno == EINTR);
    int writeError = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(event.size())) {
        error = "cannot write to " + m_device + ": " +
                (n < 0 ? std::strerror(writeError) : std::string("short write"));
        return false;
    }
    return true;
}

}  // namespace ww::linuxwifi
