#pragma once

#include <functional>
#include <string>

#include "app/Shell.h"

namespace ww {

// The About window's behaviour: the version line and the rights line, filled
// once when the window loads (so the year is the year the agent started), and
// the support link, which starts an e-mail with the desktop's mail handler.
class AboutWindow {
  public:
    struct Info {
        std::string shortVersion;  // "1.0"
        std::string buildVersion;  // "27"
        std::string supportEmail;  // the address behind the support link
        // The current year (the local calendar's); empty: the system clock.
        std::function<int()> currentYear;
    };

    AboutWindow(Shell& shell, Info info);

    void awakeFromNib();
    void userDidClickSupportEmail();

    TextField* appVersion() const { return m_shell.resources().appVersion; }
    TextField* appCopyRightText() const { return m_shell.resources().appCopyRightText; }

    // "Version 1.0 (27)".
    static std::string versionLine(const std::string& shortVersion, const std::string& build);
    // "© 2026 The Wirewatch developers. All rights reserved."
    static std::string rightsLine(int year);
    static int systemYear();

  private:
    Shell& m_shell;
    Info m_info;
};

}  // namespace ww
