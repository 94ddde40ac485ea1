#include "platform/qt/QtShell.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QUrl>

#include "settings/InterfaceOptions.h"
#include "ui_AboutWindow.h"
#include "ui_ChangePasswordWindow.h"
#include "ui_ExitPasswordWindow.h"
#include "ui_PausePasswordWindow.h"
#include "ui_SettingsWindow.h"
#include "ui_SetupPasswordWindow.h"

// The icons are compiled into this static library; its users do not name them.
static void initResources() { Q_INIT_RESOURCE(wirewatch); }

namespace ww::qt {

QtShell::QtShell() {
    initResources();
    dispatch::setMainThread(&m_mainThread);
    loadWindows();
}

QtShell::~QtShell() {
    m_mainThread.end();
    dispatch::setMainThread(nullptr);
}

void QtShell::loadWindows() {
    // The small windows are modeless dialogs: Return presses their default
    // button and Escape closes them.
    auto window = [this](std::unique_ptr<QWidget>& widget, bool dialog) {
        widget = dialog ? std::make_unique<QDialog>() : std::make_unique<QWidget>();
        m_windows.push_back(std::make_unique<QtWindow>(widget.get()));
        return static_cast<Window*>(m_windows.back().get());
    };
    auto dialog = [](std::unique_ptr<QWidget>& widget) {
        return static_cast<QDialog*>(widget.get());
    };
    auto field = [this](auto* qtWidget) {
        m_fields.push_back(std::make_unique<QtTextField>(qtWidget));
        return m_fields.back().get();
    };
    auto button = [this](QAbstractButton* b, QLabel* note = nullptr) {
        auto control = std::make_unique<QtButton>(b, note);
        Button* raw = control.get();
        m_controls.push_back(std::move(control));
        return raw;
    };

    // The settings window with its tab and the exit-password button.
    m_resources.window = window(m_settingsWidget, false);
    m_settingsUi = std::make_unique<Ui::SettingsWindow>();
    m_settingsUi->setupUi(m_settingsWidget.get());
    m_resources.loadOnStartup =
        button(m_settingsUi->loadOnStartup, m_settingsUi->loadOnStartupNote);
    m_resources.enableWireless =
        button(m_settingsUi->enableWireless, m_settingsUi->enableWirelessNote);
    m_resources.notifyWiFiCut = button(m_settingsUi->notifyWiFiCut, m_settingsUi->notifyWiFiCutNote);
    m_resources.notifyWarningState =
        button(m_settingsUi->notifyWarningState, m_settingsUi->notifyWarningStateNote);
    m_resources.notifyHotspotDisabled =
        button(m_settingsUi->notifyHotspotDisabled, m_settingsUi->notifyHotspotDisabledNote);
    m_resources.notifyFlapDamping =
        button(m_settingsUi->notifyFlapDamping, m_settingsUi->notifyFlapDampingNote);
    auto popUp = std::make_unique<QtPopUpButton>(m_settingsUi->interfaceOptions,
                                                 m_settingsUi->interfaceOptionsNote);
    for (const auto& option : kInterfaceOptions) popUp->addItem(option.title, option.tag);
    m_resources.interfaceOptions = popUp.get();
    m_controls.push_back(std::move(popUp));
    m_resources.setupPasswordButton = button(m_settingsUi->setupPasswordButton);

    // The first-password window.
    m_resources.setupPasswordWindow = window(m_setupWidget, true);
    m_setupUi = std::make_unique<Ui::SetupPasswordWindow>();
    m_setupUi->setupUi(dialog(m_setupWidget));
    m_resources.setupNewPasswordTextField = field(m_setupUi->setupNewPasswordTextField);
    m_resources.saveNewPasswordButton = button(m_setupUi->saveNewPasswordButton);
    QObject::connect(m_setupUi->cancelButton, &QPushButton::clicked, m_setupWidget.get(),
                     &QWidget::hide);

    // The change/clear window.
    m_resources.changePasswordWindow = window(m_changeWidget, true);
    m_changeUi = std::make_unique<Ui::ChangePasswordWindow>();
    m_changeUi->setupUi(dialog(m_changeWidget));
    m_resources.oldPasswordTextField = field(m_changeUi->oldPasswordTextField);
    m_resources.NewPasswordTextField = field(m_changeUi->NewPasswordTextField);
    m_resources.confirmNewPasswordTextField = field(m_changeUi->confirmNewPasswordTextField);
    m_resources.saveChangedPasswordButton = button(m_changeUi->saveChangedPasswordButton);
    m_resources.resetPasswordButton = button(m_changeUi->resetPasswordButton);
    QObject::connect(m_changeUi->cancelButton, &QPushButton::clicked, m_changeWidget.get(),
                     &QWidget::hide);

    // The exit-password window.
    m_resources.exitPasswordWindow = window(m_exitWidget, true);
    m_exitUi = std::make_unique<Ui::ExitPasswordWindow>();
    m_exitUi->setupUi(dialog(m_exitWidget));
    m_resources.exitPasswordField = field(m_exitUi->passwordField);

    // The window that asks for the exit password before a pause.
    m_resources.pausePasswordWindow = window(m_pauseWidget, true);
    m_pauseUi = std::make_unique<Ui::PausePasswordWindow>();
    m_pauseUi->setupUi(dialog(m_pauseWidget));
    m_resources.pausePasswordField = field(m_pauseUi->passwordField);

    // The About window.
    m_resources.aboutWindow = window(m_aboutWidget, true);
    m_aboutUi = std::make_unique<Ui::AboutWindow>();
    m_aboutUi->setupUi(dialog(m_aboutWidget));
    m_aboutUi->appIcon->setPixmap(QIcon(QStringLiteral(":/icons/wirewatch.svg")).pixmap(96, 96));
    m_resources.appVersion = field(m_aboutUi->appVersion);
    m_resources.appCopyRightText = field(m_aboutUi->appCopyRightText);
    m_resources.appAuditText = field(m_aboutUi->appAuditText);
    m_resources.supportEmailButton = button(m_aboutUi->supportEmailButton);

    for (QWidget* w : {m_settingsWidget.get(), m_setupWidget.get(), m_changeWidget.get(),
                       m_exitWidget.get(), m_pauseWidget.get(), m_aboutWidget.get()}) {
        w->setWindowIcon(QIcon(QStringLiteral(":/icons/wirewatch.svg")));
    }
}

std::unique_ptr<StatusItem> QtShell::createStatusItem(double /*length*/) {
    auto item = std::make_unique<QtStatusItem>();
    m_statusItem = item.get();
    return item;
}

std::unique_ptr<Menu> QtShell::createMenu() { return std::make_unique<QtMenu>(); }

void QtShell::activateIgnoringOtherApps() {
    // Qt has no application-wide activation; each window raises itself when
    // it is made key.
}

void QtShell::terminate() {
    if (m_delegate && m_delegate->applicationShouldTerminate() == TerminateReply::Cancel) return;
    m_terminated = true;
    if (m_willTerminate) m_willTerminate();
    QCoreApplication::exit(0);
}

void QtShell::openURL(const std::string& url) { QDesktopServices::openUrl(QUrl(toQString(url))); }

void QtShell::runModalAlert(const std::string& message, const std::string& informativeText,
                            int style) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Wirewatch"));
    box.setText(toQString(message));
    box.setIcon(style == 2   ? QMessageBox::Critical
                : style == 1 ? QMessageBox::Information
                             : QMessageBox::Warning);
    box.setInformativeText(toQString(informativeText));
    box.setStandardButtons(QMessageBox::Ok);
    if (m_alertAnswerer) {
        m_alertAnswerer(box);
        return;
    }
    box.exec();
}

void QtShell::addRepeatingTimer(double seconds, std::function<void()> action) {
    auto timer = std::make_unique<QTimer>();
    timer->setTimerType(Qt::CoarseTimer);
    timer->setInterval(static_cast<int>(seconds * 1000));
    QObject::connect(timer.get(), &QTimer::timeout, [action = std::move(action)] { action(); });
    timer->start();
    m_timers.push_back(std::move(timer));
}

}  // namespace ww::qt
