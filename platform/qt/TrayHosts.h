#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

class QDBusServiceWatcher;
struct xcb_connection_t;

namespace ww::qt {

// Whether a tray host runs in the session, and the moment one appears: a
// StatusNotifierItem host registered with the watcher on the session bus
// (followed by the watcher's name, so a watcher that starts or restarts
// later is seen), or an XEmbed tray manager on the X display.
//
// Qt decides once per process, when its first tray icon is made, whether
// icons go to a StatusNotifierItem host; with none running then, they never
// do. So the tray icon is made only once `available()` says a host runs.
class TrayHosts : public QObject {
    Q_OBJECT

  public:
    explicit TrayHosts(QObject* parent = nullptr);
    ~TrayHosts() override;

    bool available() const;
    // Runs (on the GUI thread) whenever a host appears or comes back.
    void setAppearedHandler(std::function<void()> handler) { m_appeared = std::move(handler); }

    static bool statusNotifierHostRegistered();
    // Whether the watcher lists an item of this process.
    static bool ownItemRegistered();

  private Q_SLOTS:
    void hostRegistered();

  private:
    void watcherAppeared();
    bool xembedTrayRunning() const;
    void readX11Events();

    std::function<void()> m_appeared;
    QDBusServiceWatcher* m_watcher = nullptr;
    xcb_connection_t* m_x11 = nullptr;
    unsigned m_traySelection = 0, m_managerAtom = 0;
    std::unique_ptr<QSocketNotifier> m_x11Notifier;
};

}  // namespace ww::qt
