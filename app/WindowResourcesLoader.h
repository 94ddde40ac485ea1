#pragma once

#include "app/Shell.h"
#include "app/UserDefaults.h"
#include "app/WirewatchAppDelegate.h"
#include "menu/AboutWindow.h"
#include "settings/ExitPasswordActions.h"
#include "settings/LoginItems.h"
#include "settings/SettingsTab.h"

namespace ww {

// Loading the application's main window resources: the objects behind the
// shell's windows (the settings tab, the exit-password actions, the About
// window) are created and wired to its controls, then every loaded object
// wakes up, the application delegate first. Runs before the delegate's
// start-up, in every mode of the agent, headless included.
class WindowResourcesLoader {
  public:
    struct Options {
        SettingsTab::Options settings;
        AboutWindow::Info about;
    };

    WindowResourcesLoader(Shell& shell, UserDefaults& store, LoginItems& loginItems,
                          Options options);

    // The awakeFromNib of the delegate, the settings tab and the About window.
    void load(WirewatchAppDelegate& delegate);

    SettingsTab& settingsTab() { return m_settingsTab; }
    ExitPasswordActions& exitPasswordActions() { return m_exitPasswordActions; }
    AboutWindow& aboutWindow() { return m_aboutWindow; }

  private:
    SettingsTab m_settingsTab;
    ExitPasswordActions m_exitPasswordActions;
    AboutWindow m_aboutWindow;
};

}  // namespace ww
