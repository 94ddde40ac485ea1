#include "menu/AboutWindow.h"

#include <ctime>

#include "platform/foundation/Format.h"

namespace ww {

AboutWindow::AboutWindow(Shell& shell, Info info) : m_shell(shell), m_info(std::move(info)) {
    if (Button* link = m_shell.resources().supportEmailButton) {
        link->setAction([this] { userDidClickSupportEmail(); });
    }
}

std::string AboutWindow::versionLine(const std::string& shortVersion, const std::string& build) {
    return "Version " + ww::format("%@ (%@)", shortVersion, build);
}

std::string AboutWindow::rightsLine(int year) {
    return "\u00A9 " + std::to_string(year) + " The Wirewatch developers. All rights reserved.";
}

int AboutWindow::systemYear() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

void AboutWindow::awakeFromNib() {
    if (TextField* field = appVersion()) {
        field->setStringValue(versionLine(m_info.shortVersion, m_info.buildVersion));
    }
    int year = m_info.currentYear ? m_info.currentYear() : systemYear();
    if (TextField* field = appCopyRightText()) field->setStringValue(rightsLine(year));
}

void AboutWindow::userDidClickSupportEmail() { m_shell.openURL("mailto:" + m_info.supportEmail); }

}  // namespace ww
