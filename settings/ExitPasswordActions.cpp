#include "settings/ExitPasswordActions.h"

#include "discovery/WWUtils.h"
#include "settings/Alerts.h"

namespace ww {

namespace {

constexpr const char* kKey = "EXIT_PASSWORD";
constexpr std::size_t kMinimumLength = 3;
constexpr int kCriticalStyle = 2;
constexpr const char* kTooShort = "Password should be at least three characters long.";

std::string text(TextField* field) { return field ? field->stringValue() : std::string(); }

}  // namespace

ExitPasswordActions::ExitPasswordActions(Shell& shell, UserDefaults& store)
    : m_shell(shell), m_store(store), m_r(shell.resources()) {
    if (m_r.setupPasswordButton) {
        m_r.setupPasswordButton->setAction([this] { setupExitPasswordButtonDidClicked(); });
    }
    if (m_r.saveNewPasswordButton)
        m_r.saveNewPasswordButton->setAction([this] { saveNewExitPassword(); });
    if (m_r.saveChangedPasswordButton) {
        m_r.saveChangedPasswordButton->setAction([this] { saveChangedExitPassword(); });
    }
    if (m_r.resetPasswordButton)
        m_r.resetPasswordButton->setAction([this] { resetExitPassword(); });
}

std::size_t ExitPasswordActions::passwordLength(const std::string& utf8) {
    // Every character is one unit but those beyond the basic plane, which take
    // two; a byte that starts no character (a continuation byte) adds nothing.
    std::size_t units = 0;
    for (unsigned char c : utf8) {
        if ((c & 0xC0) == 0x80) continue;
        units += c >= 0xF0 ? 2 : 1;
    }
    return units;
}

void ExitPasswordActions::store(const std::string& password) {
    m_store.setObject(plist::Value::string(password), kKey);
    m_store.synchronize();
}

void ExitPasswordActions::alert(const char* message, const char* informationText) {
    WWUtils::showAlertWithMessage(m_shell, std::string(message), std::string(informationText),
                                  kCriticalStyle);
}

void ExitPasswordActions::setupExitPasswordButtonDidClicked() {
    if (m_r.setupPasswordButton && m_r.setupPasswordButton->tag() != 0) {
        changePasswordButtonDidClicked();
        return;
    }
    if (m_r.setupNewPasswordTextField) m_r.setupNewPasswordTextField->setStringValue("");
    if (m_r.setupPasswordWindow) m_r.setupPasswordWindow->makeKeyAndOrderFront();
}

void ExitPasswordActions::saveNewExitPassword() {
    std::string password = text(m_r.setupNewPasswordTextField);
    if (!m_r.setupNewPasswordTextField || passwordLength(password) < kMinimumLength) {
        alert("Invalid Password", kTooShort);
        return;
    }
    store(password);
    if (m_r.setupPasswordWindow) m_r.setupPasswordWindow->close();
    if (m_r.setupPasswordButton) {
        m_r.setupPasswordButton->setTag(1);
        m_r.setupPasswordButton->setTitle("Change Exit Password");
    }
}

void ExitPasswordActions::changePasswordButtonDidClicked() {
    for (TextField* field :
         {m_r.oldPasswordTextField, m_r.NewPasswordTextField, m_r.confirmNewPasswordTextField}) {
        if (field) field->setStringValue("");
    }
    if (m_r.changePasswordWindow) m_r.changePasswordWindow->makeKeyAndOrderFront();
}

void ExitPasswordActions::saveChangedExitPassword() {
    std::optional<std::string> stored = m_store.stringForKey(kKey);
    if (!WWUtils::hasValue(stored)) return;
    if (!m_r.oldPasswordTextField || text(m_r.oldPasswordTextField) != *stored) {
        alert("Invalid Password", "Old Password is not valid.");
        return;
    }
    std::string newPassword = text(m_r.NewPasswordTextField);
    if (passwordLength(newPassword) >= kMinimumLength &&
        newPassword == text(m_r.confirmNewPasswordTextField)) {
        store(newPassword);
        if (m_r.changePasswordWindow) m_r.changePasswordWindow->close();
    } else if (passwordLength(newPassword) >= kMinimumLength) {
        alert("Password Mismatch", "New & Confirm Password should be same.");
    } else {
        alert("Invalid New Password", kTooShort);
    }
}

void ExitPasswordActions::resetExitPassword() {
    std::optional<std::string> stored = m_store.stringForKey(kKey);
    if (!WWUtils::hasValue(stored)) {
        alert("Invalid Password", "Please confirm old password to clear it.");
        return;
    }
    if (m_r.oldPasswordTextField && text(m_r.oldPasswordTextField) == *stored) {
        store("");
        if (m_r.setupPasswordButton) {
            m_r.setupPasswordButton->setTag(0);
            m_r.setupPasswordButton->setTitle("Setup Exit Password");
        }
        if (m_r.changePasswordWindow) m_r.changePasswordWindow->close();
    } else {
        alert("Invalid Password", "Incorrect Old Password.");
    }
}

}  // namespace ww
