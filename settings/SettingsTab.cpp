#include "settings/SettingsTab.h"

#include <cstdio>

#include "settings/InterfaceOptions.h"

namespace ww {

SettingsTab::SettingsTab(WindowResources& resources, UserDefaults& store, LoginItems& loginItems,
                         Options options)
    : m_resources(resources),
      m_store(store),
      m_loginItems(loginItems),
      m_options(std::move(options)) {
    if (m_resources.loadOnStartup)
        m_resources.loadOnStartup->setAction([this] { toggleLoadOnStartup(); });
    if (m_resources.enableWireless)
        m_resources.enableWireless->setAction([this] { toggleEnableWireless(); });
    if (m_resources.interfaceOptions) {
        m_resources.interfaceOptions->setAction([this] { interfaceOptionSelected(); });
    }
    for (const auto& [box, key] : notificationBoxes()) {
        if (box) box->setAction([this, box = box, key = key] { toggleNotification(box, key); });
    }
}

std::vector<std::pair<Button*, const char*>> SettingsTab::notificationBoxes() const {
    return {{m_resources.notifyWiFiCut, "NotifyWiFiCut"},
            {m_resources.notifyWarningState, "NotifyWarningState"},
            {m_resources.notifyHotspotDisabled, "NotifyHotspotDisabled"},
            {m_resources.notifyFlapDamping, "NotifyFlapDamping"}};
}

void SettingsTab::toggleNotification(Button* box, const std::string& key) {
    if (!m_defaults) {
        log("Unable to save settings. Check console log files for details.");
        return;
    }
    m_defaults->setObject(plist::Value::boolean(box->state() != 0), key);
    m_defaults->synchronize();
}

void SettingsTab::log(const std::string& line) const {
    if (m_options.console) {
        m_options.console(line);
    } else {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
}

void SettingsTab::awakeFromNib() {
    m_defaults = &m_store;
    if (!m_defaults->stringForKey("loadOnStartUp")) setUserSetting("0", "loadOnStartUp");
    if (!m_defaults->stringForKey("enableWireless")) setUserSetting("1", "enableWireless");

    // The item at n + 1 stands for the stored rule n. A freshly written "0" is
    // rule 0 and shows as such; a value without an item (every value but 0 and
    // 1 means no rule) shows the no-rule item.
    std::int64_t rule = 0;
    if (!m_defaults->stringForKey("selectedInterfaceOption")) {
        setUserSetting("0", "selectedInterfaceOption");
    } else {
        rule = m_defaults->integerForKey("selectedInterfaceOption");
    }
    if (PopUpButton* popUp = m_resources.interfaceOptions) {
        std::int64_t index = rule + 1;
        popUp->selectItemAtIndex(
            index >= 0 && index < popUp->numberOfItems() ? static_cast<int>(index) : 0);
    }

    if (m_resources.loadOnStartup) {
        m_resources.loadOnStartup->setState(
            static_cast<int>(m_defaults->integerForKey("loadOnStartUp")));
    }
    if (m_resources.enableWireless) {
        m_resources.enableWireless->setState(
            static_cast<int>(m_defaults->integerForKey("enableWireless")));
    }
    // Off unless switched on; nothing is written until the user clicks.
    for (const auto& [box, key] : notificationBoxes()) {
        if (box) box->setState(m_defaults->boolForKey(key) ? 1 : 0);
    }
    m_defaults->synchronize();
    applyLocks();
    checkToSeeIfLoadOnStartupIsProperlySet();
}

void SettingsTab::applyLocks() {
    auto lock = [this](Control* control, const char* key) {
        if (!control) return;
        bool locked = m_options.isLocked && m_options.isLocked(key);
        control->setEnabled(!locked);
        control->setNote(locked ? kLockedNote : "");
    };
    lock(m_resources.loadOnStartup, "loadOnStartUp");
    lock(m_resources.enableWireless, "enableWireless");
    lock(m_resources.interfaceOptions, "selectedInterfaceOption");
    for (const auto& [box, key] : notificationBoxes()) lock(box, key);
}

void SettingsTab::checkToSeeIfLoadOnStartupIsProperlySet() {
    std::int64_t wanted = m_store.integerForKey("loadOnStartUp");
    std::unique_ptr<LoginItemsList> list = m_loginItems.create();
    const std::string& path = m_options.mainBundlePath;
    std::int64_t present = findItemWithURL(path, list.get()) ? 1 : 0;
    if (present == wanted) {
        log("Nothing to do at all as load on startup and default values are same..");
        return;
    }
    log("LoadONStartup and defaults are not same so need to change..");
    if (wanted == 1) {
        enableLoginItemWithLoginItemsReference(list.get(), path);
    } else {
        disableLoginItemWithLoginItemsReference(list.get(), path);
    }
}

void SettingsTab::toggleEnableWireless() {
    setUserSetting(
        m_resources.enableWireless && m_resources.enableWireless->state() != 0 ? "1" : "0",
        "enableWireless");
}

void SettingsTab::interfaceOptionSelected() {
    PopUpButton* popUp = m_resources.interfaceOptions;
    if (!popUp) return;
    int index = popUp->indexOfSelectedItem();
    if (index < 0) return;
    setUserSetting(std::to_string(popUp->tagOfItem(index)), "selectedInterfaceOption");
}

void SettingsTab::toggleLoadOnStartup() {
    std::unique_ptr<LoginItemsList> list = m_loginItems.create();
    if (!list) return;
    std::string value;
    if (m_resources.loadOnStartup && m_resources.loadOnStartup->state() != 0) {
        enableLoginItemWithLoginItemsReference(list.get(), m_options.mainBundlePath);
        value = "1";
    } else {
        disableLoginItemWithLoginItemsReference(list.get(), m_options.mainBundlePath);
        value = "0";
    }
    setUserSetting(value, "loadOnStartUp");
}

std::optional<LoginItemsList::Item> SettingsTab::findItemWithURL(const std::string& path,
                                                                 LoginItemsList* list) {
    if (path.empty() || !list) return std::nullopt;
    for (const auto& item : list->snapshot()) {
        std::optional<std::string> resolved = list->resolve(item, 3);
        if (resolved && *resolved == path) return item;
    }
    return std::nullopt;
}

void SettingsTab::enableLoginItemWithLoginItemsReference(LoginItemsList* list,
                                                         const std::string& path) {
    if (!list || path.empty()) return;
    if (!findItemWithURL(path, list)) list->insertItemAtFront(path);
}

void SettingsTab::disableLoginItemWithLoginItemsReference(LoginItemsList* list,
                                                          const std::string& path) {
    if (!list || path.empty()) return;
    // Only items whose program is exactly ours: another program's path may
    // start with ours (".../bin/wirewatch-helper").
    for (const auto& item : list->snapshot()) {
        std::optional<std::string> resolved = list->resolve(item, 0);
        if (resolved && *resolved == path) list->remove(item);
    }
}

void SettingsTab::setUserSetting(const std::string& value, const std::string& key) {
    if (!m_defaults) {
        log("Unable to save settings. Check console log files for details.");
        return;
    }
    m_defaults->setObject(plist::Value::string(value), key);
    m_defaults->synchronize();
}

}  // namespace ww
