#include "platform/sim/SimWifiFile.h"

#include <string_view>

#include "platform/foundation/FileUtil.h"

namespace ww::sim {

namespace {

std::optional<std::int64_t> intAt(const plist::Value& d, const char* key) {
    const plist::Value* v = d.find(key);
    if (!v || !v->isNumber()) return std::nullopt;
    return v->integerValue();
}

std::optional<std::string> textAt(const plist::Value& d, const char* key) {
    const plist::Value* v = d.find(key);
    if (!v || !v->stringValue()) return std::nullopt;
    return *v->stringValue();
}

std::optional<bool> boolAt(const plist::Value& d, const char* key) {
    const plist::Value* v = d.find(key);
    if (!v) return std::nullopt;
    return v->boolValue();
}

std::optional<SimJoinNetwork> joinNetworkAt(const plist::Value& d, const char* key) {
    const plist::Value* v = d.find(key);
    if (!v || !v->isDictionary()) return std::nullopt;
    auto ssid = textAt(*v, "ssid");
    if (!ssid) return std::nullopt;
    SimJoinNetwork network;
    network.ssid = *ssid;
    network.bssid = textAt(*v, "bssid");
    if (const plist::Value* addresses = v->find("addresses")) {
        if (const plist::Value::Array* list = addresses->arrayValue()) {
            for (const plist::Value& a : *list) {
                if (const std::string* text = a.stringValue()) network.addresses.push_back(*text);
            }
        }
    }
    return network;
}

}  // namespace

SimWifiState SimWifiState::fromPlist(const plist::Value& d) {
    SimWifiState s;
    s.present = boolAt(d, "present").value_or(true);
    s.power = boolAt(d, "power").value_or(false);
    s.interfaceMode = intAt(d, "interfaceMode").value_or(0);
    s.security = intAt(d, "security").value_or(0);
    s.activePHYMode = intAt(d, "activePHYMode").value_or(0);
    s.ssid = textAt(d, "ssid");
    s.bssid = textAt(d, "bssid");
    s.channelNumber = intAt(d, "channelNumber");
    s.channelBand = intAt(d, "channelBand").value_or(0);
    s.channelWidth = intAt(d, "channelWidth").value_or(0);
    if (const plist::Value* v = d.find("transmitRate")) s.transmitRate = v->realValue().value_or(0);
    s.rssiValue = intAt(d, "rssiValue").value_or(0);
    s.noiseMeasurement = intAt(d, "noiseMeasurement").value_or(0);
    s.mcs = textAt(d, "mcs");
    s.failPower = textAt(d, "failPower");
    s.failDisconnect = textAt(d, "failDisconnect");
    s.device = textAt(d, "device");
    if (s.device && s.device->empty()) s.device.reset();
    s.joinNetwork = joinNetworkAt(d, "joinNetwork");
    return s;
}

std::optional<plist::Value> SimWifiFile::read(std::string* error) const {
    auto bytes = file::readAll(m_path, error);
    if (!bytes) return std::nullopt;
    std::string why;
    auto v = plist::parse(*bytes, &why);
    if (!v) {
        if (error) *error = m_path + ": " + why;
        return std::nullopt;
    }
    if (!v->isDictionary()) {
        if (error) *error = m_path + ": the root is not a dictionary";
        return std::nullopt;
    }
    return v;
}

std::optional<SimWifiState> SimWifiFile::readState(std::string* error) const {
    auto bytes = file::readAll(m_path, error);
    if (!bytes) return std::nullopt;
    const std::size_t size = bytes->size();
    const std::size_t hash = std::hash<std::string_view>{}(*bytes);
    {
        std::lock_guard lock(m_cache->mutex);
        if (m_cache->state && m_cache->size == size && m_cache->hash == hash) {
            return m_cache->state;
        }
    }
    std::string why;
    auto v = plist::parse(*bytes, &why);
    bytes.reset();
    if (!v) {
        if (error) *error = m_path + ": " + why;
        return std::nullopt;
    }
    if (!v->isDictionary()) {
        if (error) *error = m_path + ": the root is not a dictionary";
        return std::nullopt;
    }
    SimWifiState state = SimWifiState::fromPlist(*v);
    std::lock_guard lock(m_cache->mutex);
    m_cache->size = size;
    m_cache->hash = hash;
    m_cache->state = state;
    return state;
}

bool SimWifiFile::update(const std::function<void(plist::Value&)>& change,
                         const std::string& operation, std::string* error) const {
    auto v = read(error);
    if (!v) return false;
    change(*v);
    if (!operation.empty()) {
        plist::Value ops;
        if (const plist::Value* old = v->find("operations"); old && old->isArray()) ops = *old;
        ops.append(plist::Value::string(operation));
        v->set("operations", std::move(ops));
    }
    // A simulated radio's state is no user data: visible at once and whole,
    // but not worth two disk flushes per operation.
    return file::writeAtomically(m_path, plist::toXml(*v), 0644, error, /*durable=*/false);
}

}  // namespace ww::sim
