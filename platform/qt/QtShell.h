#pragma once

#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Shell.h"
#include "platform/qt/QtControls.h"
#include "platform/qt/QtMainThread.h"

namespace Ui {
class SettingsWindow;
class SetupPasswordWindow;
class ChangePasswordWindow;
class ExitPasswordWindow;
class PausePasswordWindow;
class AboutWindow;
}  // namespace Ui

namespace ww::qt {

// The desktop shell on Qt Widgets: the tray icon and its menu, the settings,
// password and About windows (laid out in the .ui files beside this one),
// modal alerts, the timer and the main thread. Needs a QApplication; create
// it on the GUI thread. Installs itself as the process's main thread.
class QtShell : public Shell {
  public:
    QtShell();
    ~QtShell() override;

    std::unique_ptr<StatusItem> createStatusItem(double length) override;
    std::unique_ptr<Menu> createMenu() override;
    WindowResources& resources() override { return m_resources; }
    void setApplicationDelegate(ApplicationDelegate* delegate) override { m_delegate = delegate; }
    void activateIgnoringOtherApps() override;
    void terminate() override;
    void openURL(const std::string& url) override;
    void runModalAlert(const std::string& message, const std::string& informativeText,
                       int style) override;
    void addRepeatingTimer(double seconds, std::function<void()> action) override;
    dispatch::MainThread& mainThread() override { return m_mainThread; }

    // The event loop is over: waiting hand-overs give up.
    void endMainThread() { m_mainThread.end(); }

    // Tests: instead of running an alert modally, hand the prepared message
    // box to `answer` (which may look at it and return). Empty: run modally.
    void setAlertAnswerer(std::function<void(QMessageBox&)> answer) {
        m_alertAnswerer = std::move(answer);
    }
    // Runs when a quit request was granted, before the event loop is asked to end.
    void setWillTerminateHandler(std::function<void()> handler) {
        m_willTerminate = std::move(handler);
    }
    bool terminated() const { return m_terminated; }

    // The last status item created (the agent makes one).
    QtStatusItem* statusItem() const { return m_statusItem; }
    QWidget* settingsWindow() const { return m_settingsWidget.get(); }
    QWidget* setupPasswordWindow() const { return m_setupWidget.get(); }
    QWidget* changePasswordWindow() const { return m_changeWidget.get(); }
    QWidget* exitPasswordWindow() const { return m_exitWidget.get(); }
    QWidget* pausePasswordWindow() const { return m_pauseWidget.get(); }
    QWidget* aboutWindow() const { return m_aboutWidget.get(); }

  private:
    void loadWindows();

    QObject m_context;
    QtMainThread m_mainThread{&m_context};
    WindowResources m_resources;
    ApplicationDelegate* m_delegate = nullptr;
    QtStatusItem* m_statusItem = nullptr;
    bool m_terminated = false;
    std::function<void(QMessageBox&)> m_alertAnswerer;
    std::function<void()> m_willTerminate;
    std::vector<std::unique_ptr<QTimer>> m_timers;

    std::unique_ptr<QWidget> m_settingsWidget, m_setupWidget, m_changeWidget, m_exitWidget,
        m_pauseWidget, m_aboutWidget;
    std::unique_ptr<Ui::SettingsWindow> m_settingsUi;
    std::unique_ptr<Ui::SetupPasswordWindow> m_setupUi;
    std::unique_ptr<Ui::ChangePasswordWindow> m_changeUi;
    std::unique_ptr<Ui::ExitPasswordWindow> m_exitUi;
    std::unique_ptr<Ui::PausePasswordWindow> m_pauseUi;
    std::unique_ptr<Ui::AboutWindow> m_aboutUi;
    std::vector<std::unique_ptr<Window>> m_windows;
    std::vector<std::unique_ptr<TextField>> m_fields;
    std::vector<std::unique_ptr<Control>> m_controls;
};

}  // namespace ww::qt
