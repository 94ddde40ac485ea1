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

// Parses a backend name: "none", "sim:FILE" or "linux". Returns the client, or
// nothing with a reason in `error`.
std::unique_ptr<WiFiClient> makeWiFiClient(const std::string& spec, std::string* error);

}  // namespace ww
