#pragma once

#include <optional>
#include <string>

#include "app/Shell.h"

namespace ww::WWUtils {

// A modal alert with the message and informative text (empty when absent) in
// the given style (0 warning, 1 informational, 2 critical). Main thread only;
// the answer is not used.
void showAlertWithMessage(Shell& shell, const std::optional<std::string>& message,
                          const std::optional<std::string>& informationText, int style);

}  // namespace ww::WWUtils
