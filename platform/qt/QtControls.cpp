#include "platform/qt/QtControls.h"

#include <QGuiApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleOptionMenuItem>
#include <QSvgRenderer>
#include <QVariant>
#include <algorithm>

namespace ww::qt {

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStdString(const QString& text) { return text.toUtf8().toStdString(); }

QColor namedColor(const std::string& name, const QPalette& palette) {
    if (name == "values-color") {
        // A blue that keeps its contrast: deep on light menus, pale on dark ones.
        bool darkBackground = palette.color(QPalette::Window).lightness() < 128;
        return darkBackground ? QColor(0x99, 0xc1, 0xf1) : QColor(0x1a, 0x4f, 0x9c);
    }
    return palette.color(QPalette::WindowText);
}

QIcon statusImage(const std::string& resourceName) {
    std::string base = resourceName;
    const std::string tif = ".tif";
    if (base.size() > tif.size() && base.compare(base.size() - tif.size(), tif.size(), tif) == 0) {
        base.resize(base.size() - tif.size());
    }
    QSvgRenderer renderer(QStringLiteral(":/icons/") + toQString(base) + QStringLiteral(".svg"));
    if (!renderer.isValid()) return QIcon();
    QIcon icon;
    // Rendered at each common panel size so that no size is scaled from another.
    for (int size : {16, 20, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    icon.setIsMask(true);
    return icon;
}

namespace {

// Draws menu items whose action names a colour in that colour; everything
// else as the base style draws it.
class MenuColorStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
        auto* menu = qobject_cast<const QMenu*>(widget);
        auto* item = qstyleoption_cast<const QStyleOptionMenuItem*>(option);
        if (element == CE_MenuItem && menu && item) {
            QAction* action = menu->actionAt(option->rect.center());
            QVariant name = action ? action->property(QtMenuItem::kColorProperty) : QVariant();
            if (name.isValid()) {
                QStyleOptionMenuItem colored = *item;
                QColor color = namedColor(name.toString().toStdString(), item->palette);
                for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText}) {
                    colored.palette.setColor(QPalette::Active, role, color);
                    colored.palette.setColor(QPalette::Inactive, role, color);
                }
                QProxyStyle::drawControl(element, &colored, painter, widget);
                return;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }
};

}  // namespace

// ---- menu ----

void QtMenuItem::setAttributedTitle(const std::string& text, const std::string& colorName) {
    // Plain text: "&" in a network's name is no shortcut marker.
    QString title = toQString(text);
    title.replace(QLatin1Char('&'), QStringLiteral("&&"));
    m_action->setText(title);
    m_action->setProperty(kColorProperty,
                          colorName.empty() ? QVariant() : QVariant(toQString(colorName)));
    if (m_changed) m_changed();
}

std::string QtMenuItem::title() const {
    QString text = m_action->text();
    text.replace(QStringLiteral("&&"), QStringLiteral("&"));
    return toStdString(text);
}

void QtMenuItem::setChecked(bool checked) {
    if (m_choices && !m_action->actionGroup()) m_action->setActionGroup(m_choices);
    m_action->setCheckable(true);
    m_action->setChecked(checked);
}

QtMenu::QtMenu() : m_menu(std::make_unique<QMenu>()), m_choices(new QActionGroup(m_menu.get())) {
    m_choices->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    m_menu->setObjectName(QStringLiteral("statusMenu"));
    auto* style = new MenuColorStyle();
    style->setParent(m_menu.get());
    m_menu->setStyle(style);
    QObject::connect(m_menu.get(), &QMenu::aboutToShow, [this] {
        if (m_willOpen) m_willOpen();
    });
}

MenuItem* QtMenu::addItem(const std::string& title, std::function<void()> action) {
    QAction* a = m_menu->addAction(toQString(title));
    a->setEnabled(static_cast<bool>(action));
    if (action)
        QObject::connect(a, &QAction::triggered, [action = std::move(action)] { action(); });
    m_items.push_back(std::make_unique<QtMenuItem>(
        a,
        [this] {
            if (m_menu->isVisible()) {
                QMetaObject::invokeMethod(
                    m_menu.get(), [this] { keepOnScreen(); }, Qt::QueuedConnection);
            }
        },
        m_choices));
    return m_items.back().get();
}

Menu* QtMenu::addSubmenu(const std::string& title) {
    m_submenus.push_back(std::make_unique<QtMenu>());
    QtMenu* submenu = m_submenus.back().get();
    submenu->m_menu->setObjectName(QString());
    submenu->m_menu->setTitle(toQString(title).replace(QLatin1Char('&'), QStringLiteral("&&")));
    QAction* a = m_menu->addMenu(submenu->m_menu.get());
    m_items.push_back(std::make_unique<QtMenuItem>(a, nullptr));
    return submenu;
}

void QtMenu::removeAllItems() {
    // The menu owns its actions; the items only point at them.
    m_menu->clear();
    m_items.clear();
    m_submenus.clear();
}

void QtMenu::keepOnScreen() {
    if (!m_menu->isVisible()) return;
    QScreen* screen = m_menu->screen();
    if (!screen) return;
    m_menu->adjustSize();
    QRect area = screen->availableGeometry();
    QRect g = m_menu->geometry();
    QPoint to = g.topLeft();
    if (g.right() > area.right()) to.setX(std::max(area.left(), area.right() - g.width() + 1));
    if (g.bottom() > area.bottom()) to.setY(std::max(area.top(), area.bottom() - g.height() + 1));
    if (to != g.topLeft()) m_menu->move(to);
}

// ---- status item ----

QtStatusItem::QtStatusItem() {
    // Where a tray host may come later, the icon waits for one: made before
    // it, it would never reach a StatusNotifierItem host.
    const QString platform = QGuiApplication::platformName();
    if (platform == QStringLiteral("xcb") || platform.startsWith(QStringLiteral("wayland"))) {
        m_hosts = std::make_unique<TrayHosts>();
        m_hosts->setAppearedHandler([this] {
            if (!m_tray) {
                createTray();
            } else if (m_tray->isVisible() && !TrayHosts::ownItemRegistered()) {
                // Qt registers its item with a watcher that restarts, but one
                // not yet serving then drops it: register again.
                m_tray->hide();
                m_tray->show();
            }
        });
        if (!m_hosts->available()) return;
    }
    createTray();
}

void QtStatusItem::createTray() {
    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setObjectName(QStringLiteral("statusItem"));
    // A click on the icon opens the menu, as a right click does.
    QObject::connect(m_tray.get(), &QSystemTrayIcon::activated,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger && m_menu && !m_menu->isVisible()) {
                             m_menu->popup(menuPosition());
                         }
                     });
    m_tray->setContextMenu(m_menu);
    m_tray->setToolTip(m_toolTip);
    refresh();
    if (!m_image.isNull()) m_tray->show();
}

QtStatusItem::~QtStatusItem() {
    for (const auto& c : m_menuConnections) QObject::disconnect(c);
}

QPoint QtStatusItem::menuPosition() const {
    // Beside the icon, below it on a panel at the top and above it at the
    // bottom, so that the open menu never hides the icon.
    QRect icon = m_tray ? m_tray->geometry() : QRect();
    if (!icon.isValid()) return QCursor::pos();
    QScreen* screen = QGuiApplication::screenAt(icon.center());
    bool below = !screen || icon.center().y() < screen->geometry().center().y();
    if (below) return QPoint(icon.left(), icon.bottom() + 1);
    return QPoint(icon.left(), icon.top() - m_menu->sizeHint().height());
}

void QtStatusItem::setMenu(Menu* menu) {
    for (const auto& c : m_menuConnections) QObject::disconnect(c);
    m_menuConnections.clear();
    auto* qtMenu = dynamic_cast<QtMenu*>(menu);
    m_menu = qtMenu ? qtMenu->menu() : nullptr;
    if (m_tray) m_tray->setContextMenu(m_menu);
    if (!m_menu) return;
    m_menuConnections.push_back(QObject::connect(m_menu, &QMenu::aboutToShow, [this] {
        m_menuOpen = true;
        refresh();
    }));
    m_menuConnections.push_back(QObject::connect(m_menu, &QMenu::aboutToHide, [this] {
        m_menuOpen = false;
        refresh();
    }));
}

void QtStatusItem::setImage(const std::string& resourceName) {
    m_imageName = resourceName;
    m_image = statusImage(resourceName);
    refresh();
    // The icon goes up with its first image; where no tray runs yet it
    // appears with the tray.
    if (m_tray && !m_image.isNull() && !m_tray->isVisible()) m_tray->show();
}

void QtStatusItem::setAlternateImage(const std::string& resourceName) {
    m_alternateName = resourceName;
    m_alternate = statusImage(resourceName);
    refresh();
}

void QtStatusItem::setToolTip(const std::string& toolTip) {
    m_toolTip = toQString(toolTip);
    if (m_tray) m_tray->setToolTip(m_toolTip);
}

void QtStatusItem::refresh() {
    const QIcon& icon = showsAlternate() && !m_alternate.isNull() ? m_alternate : m_image;
    if (m_tray && !icon.isNull()) m_tray->setIcon(icon);
}

// ---- windows and controls ----

void QtWindow::makeKeyAndOrderFront() {
    m_widget->show();
    m_widget->raise();
    m_widget->activateWindow();
}

void QtWindow::setLevel(int level) {
    bool visible = m_widget->isVisible();
    // Any level above the ordinary one floats above ordinary windows.
    m_widget->setWindowFlag(Qt::WindowStaysOnTopHint, level > 0);
    if (visible) m_widget->show();
}

QtTextField::QtTextField(QLineEdit* edit) : m_edit(edit) {
    // textEdited: the user's edits (typing, pasting, deleting), not ours.
    QObject::connect(m_edit, &QLineEdit::textEdited, [this] {
        if (m_didChange) m_didChange();
    });
}

std::string QtTextField::stringValue() const {
    return toStdString(m_edit ? m_edit->text() : m_label->text());
}

void QtTextField::setStringValue(const std::string& text) {
    if (m_edit) {
        m_edit->setText(toQString(text));
    } else {
        m_label->setText(toQString(text));
    }
}

QtButton::QtButton(QAbstractButton* button, QLabel* note)
    : QtControl<Button>(button, note), m_button(button) {
    QObject::connect(m_button, &QAbstractButton::clicked, [this] { runAction(); });
}

void QtButton::setTag(std::int64_t tag) {
    m_tag = tag;
    m_button->setProperty("tag", QVariant::fromValue<qlonglong>(tag));
}

QtPopUpButton::QtPopUpButton(QComboBox* combo, QLabel* note)
    : QtControl<PopUpButton>(combo, note), m_combo(combo) {
    QObject::connect(m_combo, &QComboBox::activated, [this] { runAction(); });
}

void QtPopUpButton::addItem(const std::string& title, std::int64_t tag) {
    m_combo->addItem(toQString(title), QVariant::fromValue<qlonglong>(tag));
}

void QtPopUpButton::selectItemAtIndex(int index) {
    if (index >= 0 && index < m_combo->count()) m_combo->setCurrentIndex(index);
}

std::int64_t QtPopUpButton::tagOfItem(int index) const {
    return m_combo->itemData(index).toLongLong();
}

}  // namespace ww::qt
