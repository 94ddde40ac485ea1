#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/Shell.h"
#include "platform/dispatch/RunLoop.h"

namespace ww {

class HeadlessMenu;

// Controls that keep their state as plain values, for the headless agent,
// its --once report and tests.
class HeadlessMenuItem : public MenuItem {
  public:
    HeadlessMenuItem(std::string title, std::function<void()> action)
        : m_title(std::move(title)), m_action(std::move(action)), m_enabled(bool(m_action)) {}
    void setHidden(bool hidden) override { m_hidden = hidden; }
    bool isHidden() const override { return m_hidden; }
    void setAttributedTitle(const std::string& text, const std::string& colorName) override {
        m_title = text;
        m_colorName = colorName;
    }
    std::string title() const override { return m_title; }
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool isEnabled() const override { return m_enabled; }
    void setChecked(bool checked) override { m_checked = checked; }
    bool isChecked() const override { return m_checked; }
    const std::string& colorName() const { return m_colorName; }
    // Simulates the user choosing the item: a disabled or hidden one cannot be.
    void choose() {
        if (m_enabled && !m_hidden && m_action) m_action();
    }
    // The submenu the item opens; none for a plain item.
    HeadlessMenu* submenu() const { return m_submenu; }
    void setSubmenu(HeadlessMenu* submenu) { m_submenu = submenu; }

  private:
    std::string m_title;
    std::function<void()> m_action;
    std::string m_colorName;
    bool m_enabled;
    bool m_checked = false;
    bool m_hidden = false;
    HeadlessMenu* m_submenu = nullptr;
};

class HeadlessMenu : public Menu {
  public:
    MenuItem* addItem(const std::string& title, std::function<void()> action) override;
    void addSeparator() override { m_items.push_back(nullptr); }
    Menu* addSubmenu(const std::string& title) override;
    void removeAllItems() override;
    void setWillOpenHandler(std::function<void()> handler) override {
        m_willOpen = std::move(handler);
    }

    // Simulates the user opening the menu.
    void open() {
        if (m_willOpen) m_willOpen();
    }
    // Items in order; separators are null.
    std::vector<HeadlessMenuItem*> items() const;
    // The first item with this title, or null.
    HeadlessMenuItem* item(const std::string& title) const;

  private:
    std::vector<std::unique_ptr<HeadlessMenuItem>> m_owned;
    std::vector<std::unique_ptr<HeadlessMenu>> m_submenus;
    std::vector<HeadlessMenuItem*> m_items;
    std::function<void()> m_willOpen;
};

class HeadlessStatusItem : public StatusItem {
  public:
    void setMenu(Menu* menu) override { m_menu = menu; }
    void setImage(const std::string& name) override { m_image = name; }
    void setAlternateImage(const std::string& name) override { m_alternateImage = name; }
    void setToolTip(const std::string& toolTip) override { m_toolTip = toolTip; }
    void setHighlightMode(bool on) override { m_highlight = on; }

    Menu* menu() const { return m_menu; }
    const std::string& image() const { return m_image; }
    const std::string& alternateImage() const { return m_alternateImage; }
    const std::string& toolTip() const { return m_toolTip; }
    bool highlightMode() const { return m_highlight; }

  private:
    Menu* m_menu = nullptr;
    std::string m_image, m_alternateImage, m_toolTip;
    bool m_highlight = false;
};

class HeadlessWindow : public Window {
  public:
    void makeKeyAndOrderFront() override {
        m_visible = true;
        ++m_frontCount;
    }
    void close() override { m_visible = false; }
    void setLevel(int level) override { m_level = level; }
    bool isVisible() const override { return m_visible; }
    int level() const { return m_level; }
    int frontCount() const { return m_frontCount; }

  private:
    bool m_visible = false;
    int m_level = 0;
    int m_frontCount = 0;
};

// Enabled state, note and action, as every headless control keeps them.
template <typename Base>
class HeadlessControl : public Base {
  public:
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool isEnabled() const override { return m_enabled; }
    void setNote(const std::string& note) override { m_note = note; }
    std::string note() const override { return m_note; }
    void setAction(std::function<void()> action) override { m_action = std::move(action); }
    // Simulates the user's click or choice: the action runs (a disabled
    // control ignores the user, as on screen).
    void performClick() {
        if (m_enabled && m_action) m_action();
    }

  private:
    bool m_enabled = true;
    std::string m_note;
    std::function<void()> m_action;
};

class HeadlessButton : public HeadlessControl<Button> {
  public:
    explicit HeadlessButton(std::string title) : m_title(std::move(title)) {}
    std::int64_t tag() const override { return m_tag; }
    void setTag(std::int64_t tag) override { m_tag = tag; }
    std::string title() const override { return m_title; }
    void setTitle(const std::string& title) override { m_title = title; }
    int state() const override { return m_state; }
    void setState(int state) override { m_state = state; }

  private:
    std::int64_t m_tag = 0;
    std::string m_title;
    int m_state = 0;
};

class HeadlessPopUpButton : public HeadlessControl<PopUpButton> {
  public:
    void addItem(std::string title, std::int64_t tag) {
        m_items.push_back({std::move(title), tag});
        if (m_selected < 0) m_selected = 0;
    }
    int numberOfItems() const override { return static_cast<int>(m_items.size()); }
    int indexOfSelectedItem() const override { return m_selected; }
    void selectItemAtIndex(int index) override {
        if (index >= 0 && index < numberOfItems()) m_selected = index;
    }
    std::int64_t tagOfItem(int index) const override { return m_items.at(index).second; }
    std::string titleOfItem(int index) const override { return m_items.at(index).first; }
    // Simulates the user choosing an item.
    void choose(int index) {
        if (!isEnabled()) return;
        selectItemAtIndex(index);
        performClick();
    }

  private:
    std::vector<std::pair<std::string, std::int64_t>> m_items;
    int m_selected = -1;
};

class HeadlessTextField : public TextField {
  public:
    std::string stringValue() const override { return m_text; }
    void setStringValue(const std::string& text) override { m_text = text; }
    void setTextDidChangeHandler(std::function<void()> handler) override {
        m_didChange = std::move(handler);
    }
    // Simulates the user typing: the text changes, then the handler runs.
    void type(const std::string& text) {
        m_text = text;
        if (m_didChange) m_didChange();
    }

  private:
    std::string m_text;
    std::function<void()> m_didChange;
};

struct HeadlessAlert {
    std::string message;
    std::string informativeText;
    int style;
};

// The headless shell runs on the dispatch run loop of the thread that calls run().
class HeadlessShell : public Shell {
  public:
    explicit HeadlessShell(dispatch::RunLoop& loop = dispatch::RunLoop::main());

    std::unique_ptr<StatusItem> createStatusItem(double length) override;
    std::unique_ptr<Menu> createMenu() override;
    WindowResources& resources() override { return m_resources; }
    void setApplicationDelegate(ApplicationDelegate* delegate) override { m_delegate = delegate; }
    void activateIgnoringOtherApps() override { ++m_activations; }
    void terminate() override;
    void openURL(const std::string& url) override { m_openedURLs.push_back(url); }
    void runModalAlert(const std::string& message, const std::string& informativeText,
                       int style) override {
        m_alerts.push_back(HeadlessAlert{message, informativeText, style});
    }
    void addRepeatingTimer(double seconds, std::function<void()> action) override;
    dispatch::MainThread& mainThread() override { return m_mainThread; }

    dispatch::RunLoop& loop() { return m_loop; }
    // The last status item created (the agent makes one).
    HeadlessStatusItem* statusItem() const { return m_statusItem; }
    bool terminated() const { return m_terminated; }
    int activations() const { return m_activations; }
    const std::vector<HeadlessAlert>& alerts() const { return m_alerts; }
    const std::vector<std::string>& openedURLs() const { return m_openedURLs; }
    const std::vector<double>& timerIntervals() const { return m_timerIntervals; }

    HeadlessWindow settingsWindow, aboutWindow, exitPasswordWindow, pausePasswordWindow,
        setupPasswordWindow, changePasswordWindow;
    HeadlessTextField exitPasswordField, pausePasswordField, setupNewPasswordTextField,
        oldPasswordTextField, newPasswordTextField, confirmNewPasswordTextField;
    HeadlessButton setupPasswordButton{"Setup Exit Password"};
    HeadlessButton saveNewPasswordButton{"Save"}, saveChangedPasswordButton{"Save"},
        resetPasswordButton{"Clear Password"};
    HeadlessButton loadOnStartup{"Start Wirewatch at login"};
    HeadlessButton enableWireless{"Turn Wi-Fi back on when nothing is connected"};
    HeadlessButton notifyWiFiCut{"Wi-Fi is disconnected or switched off by a rule"};
    HeadlessButton notifyWarningState{"The warning icon comes on"};
    HeadlessButton notifyHotspotDisabled{"A personal hotspot over USB is switched off"};
    HeadlessButton notifyFlapDamping{"Wi-Fi is held off because the link keeps flapping"};
    HeadlessPopUpButton interfaceOptions;
    HeadlessTextField appVersion, appCopyRightText, appAuditText;
    HeadlessButton supportEmailButton{"Support"};

  private:
    class LoopMainThread : public dispatch::MainThread {
      public:
        explicit LoopMainThread(dispatch::RunLoop& loop) : m_loop(loop) {}
        void post(std::function<void()> task) override { m_loop.post(std::move(task)); }
        bool postAndWait(const std::function<void()>& task) override {
            return m_loop.postAndWait(task);
        }
        bool isMainThread() const override { return m_loop.isLoopThread(); }

      private:
        dispatch::RunLoop& m_loop;
    };

    dispatch::RunLoop& m_loop;
    LoopMainThread m_mainThread;
    WindowResources m_resources;
    ApplicationDelegate* m_delegate = nullptr;
    HeadlessStatusItem* m_statusItem = nullptr;
    bool m_terminated = false;
    int m_activations = 0;
    std::vector<HeadlessAlert> m_alerts;
    std::vector<std::string> m_openedURLs;
    std::vector<double> m_timerIntervals;
};

}  // namespace ww
