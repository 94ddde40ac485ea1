#include "settings/ExitPasswordWindow.h"

#include "settings/ManagedExitPassword.h"

namespace ww {

ExitPasswordWindow::ExitPasswordWindow(Window& window, TextField& passwordField,
                                       UserDefaults& store)
    : m_window(window), m_passwordField(passwordField), m_store(store) {
    m_passwordField.setTextDidChangeHandler([this] { controlTextDidChange(); });
}

void ExitPasswordWindow::controlTextDidChange() {
    std::string typed = m_passwordField.stringValue();
    if (exitpassword::opensExitGate(m_store, typed) && m_extendedDelegate) m_extendedDelegate();
}

}  // namespace ww
