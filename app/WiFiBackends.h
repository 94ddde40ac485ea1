#pragma once

#include <memory>
#include <string>

#include "app/WiFiInterface.h"

namespace ww {

// No Wi-Fi hardware: the default interface is always absent.
std::unique_ptr<WiFiClient> makeNoWiFiClient();

// Wraps a backend so that power changes and disassociation are logged and not
// made (they report success); reads pass through.
std::unique_ptr<WiFiClient> makeDryRunWiFiClient(std::unique_ptr<WiFiClient> inner);

// The backend `--wifi` uses when none is named.
inline constexpr const char* kDefaultWiFiBackend = "auto";

// True for the names of the real Linux backends: "auto" (and its alias
// "linux"), "nm", "iwd", "kernel".
bool isLinuxWiFiBackend(const std::string& spec);

// Parses a backend name: "auto" (NetworkManager, else iwd, else the kernel,
// else none; chosen at the first check and again when the chosen one goes),
// "linux" (the same), "nm", "iwd", "kernel", "none" or "sim:FILE". Returns the
// client, or nothing with a reason in `error`. The Linux backends live in
// platform/linux/wifi; they log their choice at the first check.
std::unique_ptr<WiFiClient> makeWiFiClient(const std::string& spec, std::string* error);

}  // namespace ww
