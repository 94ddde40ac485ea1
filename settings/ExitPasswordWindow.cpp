#include "settings/ExitPasswordWindow.h"

namespace ww {

ExitPasswordWindow::ExitPasswordWindow(Window& window, TextField& passwordField,
                                       UserDefaults& store)
    : m_window(window), m_passwordField(passwordField), m_store(store) {
    m_passwordField.setTextDidChangeHandler([this] { controlTextDidChange(); });
}

void ExitPasswordWindow::controlTextDidChange() {
    std::optional<std::string> stored = m_store.stringForKey("EXIT_PASSWORD");
    std::string typed = m_passwordField.stringValue();
    if (stored && *stored == typed && m_extendedDelegate) m_extendedDelegate();
}

}  // namespace ww
