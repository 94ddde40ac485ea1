#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/Shell.h"
#include "app/UserDefaults.h"
#include "settings/LoginItems.h"

namespace ww {

// The settings window's tab: the rule pop-up, the Wi-Fi-back-on check box and
// the start-at-login check box. Every change is written straight into the
// preferences; the login-items list follows the start-at-login choice. Loading
// the tab (awakeFromNib) fills in missing keys and reconciles the login items,
// whether or not the window is ever shown, in every mode of the agent.
class SettingsTab {
  public:
    // Where the tab's diagnostics go (the console, not the log files).
    using Console = std::function<void(const std::string& line)>;
    // Whether a preference key is fixed by the administrator; its control is
    // then disabled and carries kLockedNote.
    using KeyLock = std::function<bool(const std::string& key)>;

    static constexpr const char* kLockedNote = "Set by your administrator";

    struct Options {
        // The program the login item refers to (the running program's own path).
        std::string mainBundlePath;
        Console console;
        KeyLock isLocked;  // empty: nothing is ever locked
    };

    // The controls come from the window resources; the tab wires their actions.
    SettingsTab(WindowResources& resources, UserDefaults& store, LoginItems& loginItems,
                Options options);

    void awakeFromNib();
    void checkToSeeIfLoadOnStartupIsProperlySet();
    void toggleEnableWireless();
    void interfaceOptionSelected();
    void toggleLoadOnStartup();

    // The first item of the list that resolves to exactly `path`.
    std::optional<LoginItemsList::Item> findItemWithURL(const std::string& path,
                                                        LoginItemsList* list);
    // Adds the program unless an item already refers to it.
    void enableLoginItemWithLoginItemsReference(LoginItemsList* list, const std::string& path);
    // Removes every item whose program path begins with `path`.
    void disableLoginItemWithLoginItemsReference(LoginItemsList* list, const std::string& path);
    // Stores one preference and flushes it to disk at once.
    void setUserSetting(const std::string& value, const std::string& key);

    // Disables the controls whose keys are locked and notes why (done at load;
    // callable again when the policy may have changed).
    void applyLocks();
    // A notification check box clicked: its kind on or off, as a boolean.
    void toggleNotification(Button* box, const std::string& key);

  private:
    void log(const std::string& line) const;
    // The notification check boxes and their preference keys.
    std::vector<std::pair<Button*, const char*>> notificationBoxes() const;

    WindowResources& m_resources;
    UserDefaults& m_store;
    LoginItems& m_loginItems;
    Options m_options;
    UserDefaults* m_defaults = nullptr;  // set when the tab loads
};

}  // namespace ww
