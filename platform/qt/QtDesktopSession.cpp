#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>

#include "app/DesktopSession.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/TrayHosts.h"

namespace ww {

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// Qt ends the process when it cannot open its display, so look first. The
// connection is kept until Qt has its own: an X server whose last client
// leaves resets itself and refuses connections for a moment.
struct X11Probe {
    explicit X11Probe(const std::string& display)
        : connection(xcb_connect(display.c_str(), nullptr)) {}
    ~X11Probe() {
        if (connection) xcb_disconnect(connection);
    }
    bool reachable() const { return connection && xcb_connection_has_error(connection) == 0; }
    xcb_connection_t* connection;
};

bool canReachWayland(const std::string& display) {
    std::string path = display;
    if (path.empty() || path[0] != '/') path = env("XDG_RUNTIME_DIR") + "/" + display;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        ::close(fd);
        return false;
    }
    path.copy(addr.sun_path, path.size());
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

bool hasWaylandPlugin() {
    QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
    return !platforms.entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty();
}

class QtDesktopSession : public DesktopSession {
  public:
    QtDesktopSession(int& argc, char** argv) : m_app(argc, argv) {
        QApplication::setApplicationName(QStringLiteral("Wirewatch"));
        QApplication::setDesktopFileName(QStringLiteral("wirewatch"));
        // A tray agent: closing its last window does not end it.
        QApplication::setQuitOnLastWindowClosed(false);
        m_shell = std::make_unique<qt::QtShell>();
        QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/wirewatch.svg")));
        // Not Qt's own test: it would settle for good that no tray can come.
        if (!qt::TrayHosts().available()) {
            std::fprintf(stderr,
                         "wirewatch: no system tray is running yet; the icon appears when "
                         "one starts\n");
        }
    }

    Shell& shell() override { return *m_shell; }

    int run() override {
        int status = QApplication::exec();
        m_shell->endMainThread();
        return status;
    }

    void stop() override {
        QMetaObject::invokeMethod(
            &m_app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }

  private:
    QApplication m_app;
    std::unique_ptr<qt::QtShell> m_shell;
};

}  // namespace

std::unique_ptr<DesktopSession> DesktopSession::create(int& argc, char** argv, std::string* why) {
    std::string x11 = env("DISPLAY"), wayland = env("WAYLAND_DISPLAY");
    std::string platform = env("QT_QPA_PLATFORM");
    std::unique_ptr<X11Probe> probe;
    bool reachable = false;
    if (platform == "offscreen" || platform == "minimal") {
        reachable = true;
    } else if (!wayland.empty() && platform.rfind("wayland", 0) == 0) {
        reachable = canReachWayland(wayland);
    } else if (!x11.empty()) {
        probe = std::make_unique<X11Probe>(x11);
        reachable = probe->reachable();
    } else if (!wayland.empty()) {
        // Without X11 Qt can only use Wayland, whose plugin is a package of its own.
        if (!hasWaylandPlugin()) {
            if (why) *why = "Qt's Wayland plugin is not installed (package qt6-wayland)";
            return nullptr;
        }
        reachable = canReachWayland(wayland);
        if (reachable && platform.empty()) ::setenv("QT_QPA_PLATFORM", "wayland", 1);
    }
    if (x11.empty() && wayland.empty() && platform != "offscreen" && platform != "minimal") {
        if (why) *why = "no display (DISPLAY and WAYLAND_DISPLAY are unset)";
        return nullptr;
    }
    if (!reachable) {
        if (why) *why = "the display " + (x11.empty() ? wayland : x11) + " cannot be reached";
        return nullptr;
    }
    return std::make_unique<QtDesktopSession>(argc, argv);
}

}  // namespace ww
