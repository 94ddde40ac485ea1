#pragma once

#include <functional>

#include "app/Shell.h"
#include "app/UserDefaults.h"

namespace ww {

// The window that asks for the exit password when quitting is guarded. There
// is no confirm button: the moment the field holds exactly the stored password
// the extended delegate hears of it.
class ExitPasswordWindow {
public:
    ExitPasswordWindow(Window& window, TextField& passwordField, UserDefaults& store);

    Window& window() { return m_window; }
    TextField& passwordField() { return m_passwordField; }

    // Receives userDidEnteredCorrectPassword.
    void setExtendedDelegate(std::function<void()> userDidEnteredCorrectPassword) {
        m_extendedDelegate = std::move(userDidEnteredCorrectPassword);
    }

    // After every edit of the field: an exact, case-sensitive comparison with
    // the user's password, or the administrator's password when the policy
    // sets one.
    void controlTextDidChange();

private:
    Window& m_window;
    TextField& m_passwordField;
    UserDefaults& m_store;
    std::function<void()> m_extendedDelegate;
};

}  // namespace ww
