#include "settings/Alerts.h"

namespace ww::WWUtils {

void showAlertWithMessage(Shell& shell, const std::optional<std::string>& message,
                          const std::optional<std::string>& informationText, int style) {
    shell.runModalAlert(message.value_or(""), informationText.value_or(""), style);
}

}  // namespace ww::WWUtils
