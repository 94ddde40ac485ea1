#include "platform/headless/HeadlessShell.h"

#include <chrono>

#include "settings/InterfaceOptions.h"

namespace ww {

MenuItem* HeadlessMenu::addItem(const std::string& title, std::function<void()> action) {
    m_owned.push_back(std::make_unique<HeadlessMenuItem>(title, std::move(action)));
    m_items.push_back(m_owned.back().get());
    return m_owned.back().get();
}

Menu* HeadlessMenu::addSubmenu(const std::string& title) {
    m_submenus.push_back(std::make_unique<HeadlessMenu>());
    HeadlessMenu* submenu = m_submenus.back().get();
    m_owned.push_back(std::make_unique<HeadlessMenuItem>(title, [] {}));
    m_owned.back()->setSubmenu(submenu);
    m_items.push_back(m_owned.back().get());
    return submenu;
}

void HeadlessMenu::removeAllItems() {
    m_items.clear();
    m_owned.clear();
    m_submenus.clear();
}

std::vector<HeadlessMenuItem*> HeadlessMenu::items() const { return m_items; }

HeadlessMenuItem* HeadlessMenu::item(const std::string& title) const {
    for (HeadlessMenuItem* i : m_items) {
        if (i && i->title() == title) return i;
    }
    return nullptr;
}

HeadlessShell::HeadlessShell(dispatch::RunLoop& loop) : m_loop(loop), m_mainThread(loop) {
    m_resources.window = &settingsWindow;
    m_resources.aboutWindow = &aboutWindow;
    m_resources.exitPasswordWindow = &exitPasswordWindow;
    m_resources.exitPasswordField = &exitPasswordField;
    m_resources.pausePasswordWindow = &pausePasswordWindow;
    m_resources.pausePasswordField = &pausePasswordField;
    m_resources.setupPasswordWindow = &setupPasswordWindow;
    m_resources.changePasswordWindow = &changePasswordWindow;
    m_resources.setupNewPasswordTextField = &setupNewPasswordTextField;
    m_resources.oldPasswordTextField = &oldPasswordTextField;
    m_resources.NewPasswordTextField = &newPasswordTextField;
    m_resources.confirmNewPasswordTextField = &confirmNewPasswordTextField;
    m_resources.setupPasswordButton = &setupPasswordButton;
    m_resources.saveNewPasswordButton = &saveNewPasswordButton;
    m_resources.saveChangedPasswordButton = &saveChangedPasswordButton;
    m_resources.resetPasswordButton = &resetPasswordButton;
    m_resources.loadOnStartup = &loadOnStartup;
    m_resources.enableWireless = &enableWireless;
    m_resources.notifyWiFiCut = &notifyWiFiCut;
    m_resources.notifyWarningState = &notifyWarningState;
    m_resources.notifyHotspotDisabled = &notifyHotspotDisabled;
    m_resources.notifyFlapDamping = &notifyFlapDamping;
    for (const auto& option : kInterfaceOptions) interfaceOptions.addItem(option.title, option.tag);
    m_resources.interfaceOptions = &interfaceOptions;
    m_resources.appVersion = &appVersion;
    m_resources.appCopyRightText = &appCopyRightText;
    m_resources.appAuditText = &appAuditText;
    m_resources.supportEmailButton = &supportEmailButton;
}

std::unique_ptr<StatusItem> HeadlessShell::createStatusItem(double /*length*/) {
    auto item = std::make_unique<HeadlessStatusItem>();
    m_statusItem = item.get();
    return item;
}

std::unique_ptr<Menu> HeadlessShell::createMenu() { return std::make_unique<HeadlessMenu>(); }

void HeadlessShell::terminate() {
    if (m_delegate && m_delegate->applicationShouldTerminate() == TerminateReply::Cancel) return;
    m_terminated = true;
    m_loop.stop();
}

void HeadlessShell::addRepeatingTimer(double seconds, std::function<void()> action) {
    m_timerIntervals.push_back(seconds);
    m_loop.addRepeatingTimer(std::chrono::duration_cast<dispatch::RunLoop::Clock::duration>(
                                 std::chrono::duration<double>(seconds)),
                             std::move(action));
}

}  // namespace ww
