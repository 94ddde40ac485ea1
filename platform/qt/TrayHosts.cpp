#include "platform/qt/TrayHosts.h"

#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <cstdlib>
#include <string>

namespace ww::qt {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

xcb_atom_t internAtom(xcb_connection_t* c, const std::string& name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    if (!reply) return XCB_ATOM_NONE;
    xcb_atom_t atom = reply->atom;
    std::free(reply);
    return atom;
}

// A property of the StatusNotifierWatcher; invalid where none answers.
QVariant watcherProperty(const QString& name) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return {};
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherService << name;
    QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return reply.arguments().first().value<QDBusVariant>().variant();
}

}  // namespace

TrayHosts::TrayHosts(QObject* parent) : QObject(parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        m_watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                            QDBusServiceWatcher::WatchForRegistration, this);
        connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this,
                [this] { watcherAppeared(); });
        // A host that registers with a watcher already up.
        bus.connect(kWatcherService, kWatcherPath, kWatcherService,
                    QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(hostRegistered()));
    }
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) return;

    // An XEmbed tray manager announces itself with a MANAGER message to the
    // root window when it takes the tray selection.
    int screenNumber = 0;
    m_x11 = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_x11)) {
        xcb_disconnect(m_x11);
        m_x11 = nullptr;
        return;
    }
    m_traySelection = internAtom(m_x11, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    m_managerAtom = internAtom(m_x11, "MANAGER");
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_x11));
    for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
    if (it.rem) {
        uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_x11, it.data->root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_x11);
    }
    m_x11Notifier =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_x11), QSocketNotifier::Read);
    connect(m_x11Notifier.get(), &QSocketNotifier::activated, this, [this] { readX11Events(); });
}

TrayHosts::~TrayHosts() {
    m_x11Notifier.reset();
    if (m_x11) xcb_disconnect(m_x11);
}

bool TrayHosts::statusNotifierHostRegistered() {
    return watcherProperty(QStringLiteral("IsStatusNotifierHostRegistered")).toBool();
}

bool TrayHosts::ownItemRegistered() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Watchers list an item by its bus name, well-known or unique (Qt serves
    // each icon on a connection of its own), perhaps with the object path.
    const QStringList items =
        watcherProperty(QStringLiteral("RegisteredStatusNotifierItems")).toStringList();
    for (const QString& item : items) {
        QDBusMessage pidOf = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
        pidOf << item.section(QLatin1Char('/'), 0, 0);
        QDBusMessage owner = bus.call(pidOf, QDBus::Block, 2000);
        if (owner.type() == QDBusMessage::ReplyMessage && !owner.arguments().isEmpty() &&
            owner.arguments().first().toLongLong() == QCoreApplication::applicationPid()) {
            return true;
        }
    }
    return false;
}

bool TrayHosts::xembedTrayRunning() const {
    if (!m_x11 || m_traySelection == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        m_x11, xcb_get_selection_owner(m_x11, m_traySelection), nullptr);
    if (!reply) return false;
    bool owned = reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

bool TrayHosts::available() const { return xembedTrayRunning() || statusNotifierHostRegistered(); }

void TrayHosts::watcherAppeared() {
    // A watcher without a host shows nothing; its host says so when it comes.
    if (statusNotifierHostRegistered() && m_appeared) m_appeared();
}

void TrayHosts::hostRegistered() {
    if (m_appeared) m_appeared();
}

void TrayHosts::readX11Events() {
    bool appeared = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_x11)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            appeared |= message->type == m_managerAtom && message->format == 32 &&
                        message->data.data32[1] == m_traySelection;
        }
        std::free(event);
    }
    // A lost display would wake us for ever.
    if (xcb_connection_has_error(m_x11)) m_x11Notifier->setEnabled(false);
    if (appeared && m_appeared) m_appeared();
}

}  // namespace ww::qt
