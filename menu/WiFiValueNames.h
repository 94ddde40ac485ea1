#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ww::WWUtils {

// Names of the Wi-Fi interface's integer codes, as the menu shows them. Each
// reads its number as a 32-bit signed integer (larger values keep their low 32
// bits). Nothing means "no name". The OS version argument has no effect.
std::optional<std::string> stringForOpMode(std::int64_t mode, float osVersion);
std::string stringForSecurityMode(std::int64_t security, float osVersion);
std::optional<std::string> stringForPHYMode(std::int64_t phyMode, float osVersion);
std::optional<std::string> stringForChannelWidth(std::int64_t width);
std::optional<std::string> stringForChannelBand(std::int64_t band);
// The security code for a name (exact, case-sensitive); 0 for any other name.
std::int64_t securityModeForString(const std::string& name);

// The OS version as major.minor read as a float. On Linux: the kernel
// release's major and minor numbers ("6.1.0-18-amd64" gives 6.1).
float GetOSVersion();
// The human-readable OS version: the distribution's pretty name and the
// kernel release, e.g. "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-18-amd64".
std::string GetOSVersionString();

// Parsing helpers, exposed for tests.
float osVersionFromRelease(const std::string& kernelRelease);
std::string osVersionString(const std::string& osReleaseFile, const std::string& kernelRelease);

}  // namespace ww::WWUtils
