#pragma once

#include <string>

#include "app/Shell.h"
#include "app/UserDefaults.h"

namespace ww {

// The settings window's exit-password button and the first-password and
// change/clear windows behind it. The password is kept as typed under
// "EXIT_PASSWORD"; clearing stores the empty string. Every refusal is a modal
// critical alert and leaves the window open with its texts.
class ExitPasswordActions {
  public:
    // Wires the password buttons of the window resources to the actions.
    ExitPasswordActions(Shell& shell, UserDefaults& store);

    // The settings button: tag 0 opens the first-password window, any other
    // tag the change/clear window.
    void setupExitPasswordButtonDidClicked();
    void saveNewExitPassword();
    void changePasswordButtonDidClicked();
    void saveChangedExitPassword();
    void resetExitPassword();

    // Length as the platform string counts it: UTF-16 code units.
    static std::size_t passwordLength(const std::string& utf8);

  private:
    void store(const std::string& password);
    void alert(const char* message, const char* informationText);

    Shell& m_shell;
    UserDefaults& m_store;
    WindowResources& m_r;
};

}  // namespace ww
