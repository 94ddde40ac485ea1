#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/dispatch/MainThread.h"

namespace ww {

// The desktop toolkit as the agent uses it. A headless shell keeps every
// control's state as plain values; the tray shell draws them. All operations
// but the main-thread ones are called on the main thread.

class MenuItem {
  public:
    virtual ~MenuItem() = default;
    virtual void setHidden(bool hidden) = 0;
    virtual bool isHidden() const = 0;
    // The title in one foreground colour over its whole length: the named
    // application colour `colorName`, or the label colour when it is empty.
    virtual void setAttributedTitle(const std::string& text, const std::string& colorName) = 0;
    virtual std::string title() const = 0;
    // Items with an action start enabled; a disabled item ignores the user.
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    // A check mark beside the title (the choice in force among its siblings).
    virtual void setChecked(bool checked) = 0;
    virtual bool isChecked() const = 0;
};

class Menu {
  public:
    virtual ~Menu() = default;
    // An item whose action runs on the main thread when chosen. Items with an
    // action are enabled; without one they are drawn disabled.
    virtual MenuItem* addItem(const std::string& title, std::function<void()> action) = 0;
    virtual void addSeparator() = 0;
    // An item that opens a submenu; the submenu belongs to this menu and lives
    // until removeAllItems or the menu's end.
    virtual Menu* addSubmenu(const std::string& title) = 0;
    // Empties the menu, submenus included (for lists that are rebuilt).
    virtual void removeAllItems() = 0;
    // The menu delegate's "will open": runs on the main thread before the menu shows.
    virtual void setWillOpenHandler(std::function<void()> handler) = 0;
};

class StatusItem {
  public:
    virtual ~StatusItem() = default;
    virtual void setMenu(Menu* menu) = 0;
    // Images by resource name ("ww-menubar.tif"), marked as template images.
    virtual void setImage(const std::string& resourceName) = 0;
    virtual void setAlternateImage(const std::string& resourceName) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
    virtual void setHighlightMode(bool on) = 0;
};

class Window {
  public:
    virtual ~Window() = default;
    virtual void makeKeyAndOrderFront() = 0;
    virtual void close() = 0;
    virtual void setLevel(int level) = 0;
    virtual bool isVisible() const = 0;
};

// What buttons, check boxes and pop-up buttons share.
class Control {
  public:
    virtual ~Control() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    // A short note shown with the control (why it is disabled, say); empty for none.
    virtual void setNote(const std::string& note) = 0;
    virtual std::string note() const = 0;
    // The target/action: runs on the main thread when the user clicks or
    // chooses, after the control's state has changed.
    virtual void setAction(std::function<void()> action) = 0;
};

// A push button or a check box.
class Button : public Control {
  public:
    virtual std::int64_t tag() const = 0;
    virtual void setTag(std::int64_t tag) = 0;
    virtual std::string title() const = 0;
    virtual void setTitle(const std::string& title) = 0;
    // Check boxes: 1 on, 0 off.
    virtual int state() const = 0;
    virtual void setState(int state) = 0;
};

// A pop-up button: a list of titled items, each with a tag, one selected.
class PopUpButton : public Control {
  public:
    virtual int numberOfItems() const = 0;
    // The selected item's index, or -1 when none is selected.
    virtual int indexOfSelectedItem() const = 0;
    // An index outside the items leaves the selection as it is.
    virtual void selectItemAtIndex(int index) = 0;
    virtual std::int64_t tagOfItem(int index) const = 0;
    virtual std::string titleOfItem(int index) const = 0;
};

class TextField {
  public:
    virtual ~TextField() = default;
    virtual std::string stringValue() const = 0;
    virtual void setStringValue(const std::string& text) = 0;
    // Runs after every edit by the user.
    virtual void setTextDidChangeHandler(std::function<void()> handler) = 0;
};

// What the application delegate answers to a quit request.
enum class TerminateReply { Cancel, Now };

class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;
    virtual TerminateReply applicationShouldTerminate() = 0;
};

// The windows and controls laid out in the application's window resources.
struct WindowResources {
    Window* window = nullptr;  // the settings window
    Window* aboutWindow = nullptr;
    Window* exitPasswordWindow = nullptr;
    TextField* exitPasswordField = nullptr;
    Window* setupPasswordWindow = nullptr;
    Window* changePasswordWindow = nullptr;
    TextField* setupNewPasswordTextField = nullptr;
    TextField* oldPasswordTextField = nullptr;
    TextField* NewPasswordTextField = nullptr;
    TextField* confirmNewPasswordTextField = nullptr;
    Button* setupPasswordButton = nullptr;
    // The save buttons of the first-password and change/clear windows, and the clear button.
    Button* saveNewPasswordButton = nullptr;
    Button* saveChangedPasswordButton = nullptr;
    Button* resetPasswordButton = nullptr;
    // The settings tab: start at login, Wi-Fi back on, the rule.
    Button* loadOnStartup = nullptr;
    Button* enableWireless = nullptr;
    PopUpButton* interfaceOptions = nullptr;
    // The notification check boxes, one per kind (all off by default).
    Button* notifyWiFiCut = nullptr;
    Button* notifyWarningState = nullptr;
    Button* notifyHotspotDisabled = nullptr;
    Button* notifyFlapDamping = nullptr;
    // The window that asks for the exit password before protection is paused.
    Window* pausePasswordWindow = nullptr;
    TextField* pausePasswordField = nullptr;
    // The About window: the version and rights lines (read-only fields) and the
    // support e-mail link.
    TextField* appVersion = nullptr;
    TextField* appCopyRightText = nullptr;
    // Today's exposure figures ("0 exposures today").
    TextField* appAuditText = nullptr;
    Button* supportEmailButton = nullptr;
};

class Shell {
  public:
    virtual ~Shell() = default;

    // An item in the system status bar for the life of the process (length -1:
    // variable).
    virtual std::unique_ptr<StatusItem> createStatusItem(double length) = 0;
    virtual std::unique_ptr<Menu> createMenu() = 0;
    virtual WindowResources& resources() = 0;

    virtual void setApplicationDelegate(ApplicationDelegate* delegate) = 0;
    // Brings the application's windows in front of other applications'.
    virtual void activateIgnoringOtherApps() = 0;
    // A quit request: asks the delegate, and ends the run loop when it agrees.
    virtual void terminate() = 0;
    virtual void openURL(const std::string& url) = 0;
    // Style 0 warning, 1 informational, 2 critical. Modal; the answer is not used.
    virtual void runModalAlert(const std::string& message, const std::string& informativeText,
                               int style) = 0;
    // Fires on the main thread every interval, also while a menu is open.
    virtual void addRepeatingTimer(double seconds, std::function<void()> action) = 0;
    virtual dispatch::MainThread& mainThread() = 0;
};

}  // namespace ww
