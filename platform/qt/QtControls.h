#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Shell.h"
#include "platform/qt/TrayHosts.h"

namespace ww::qt {

QString toQString(const std::string& text);
std::string toStdString(const QString& text);

// The application's named colours ("values-color"), each with a variant for
// light and for dark backgrounds, resolved against the palette in use.
QColor namedColor(const std::string& name, const QPalette& palette);

// A tray icon image: the SVG resource for a name such as "ww-menubar.tif",
// rendered for 16 to 64 pixel panels and marked as a mask (template) icon.
// A null icon when there is no such resource.
QIcon statusImage(const std::string& resourceName);

class QtMenuItem : public MenuItem {
  public:
    QtMenuItem(QAction* action, std::function<void()> changed, QActionGroup* choices = nullptr)
        : m_action(action), m_changed(std::move(changed)), m_choices(choices) {}
    void setHidden(bool hidden) override { m_action->setVisible(!hidden); }
    bool isHidden() const override { return !m_action->isVisible(); }
    void setAttributedTitle(const std::string& text, const std::string& colorName) override;
    std::string title() const override;
    void setEnabled(bool enabled) override { m_action->setEnabled(enabled); }
    bool isEnabled() const override { return m_action->isEnabled(); }
    void setChecked(bool checked) override;
    bool isChecked() const override { return m_action->isChecked(); }
    QAction* action() const { return m_action; }

    // The property that carries an item's colour name to the menu's style.
    static constexpr const char* kColorProperty = "wwColorName";

  private:
    QAction* m_action;
    std::function<void()> m_changed;
    QActionGroup* m_choices;
};

class QtMenu : public Menu {
  public:
    QtMenu();
    MenuItem* addItem(const std::string& title, std::function<void()> action) override;
    void addSeparator() override { m_menu->addSeparator(); }
    Menu* addSubmenu(const std::string& title) override;
    void removeAllItems() override;
    void setWillOpenHandler(std::function<void()> handler) override {
        m_willOpen = std::move(handler);
    }

    QMenu* menu() const { return m_menu.get(); }
    const std::vector<std::unique_ptr<QtMenuItem>>& items() const { return m_items; }

  private:
    // An open menu whose items grew keeps within its screen.
    void keepOnScreen();

    std::unique_ptr<QMenu> m_menu;
    std::vector<std::unique_ptr<QtMenuItem>> m_items;
    std::vector<std::unique_ptr<QtMenu>> m_submenus;
    // The menu's checked items are choices among one another: drawn as radio buttons.
    QActionGroup* m_choices;
    std::function<void()> m_willOpen;
};

// The status item on a tray icon. The icon shows from the first image on; while
// the menu is open (and highlight mode is on) the alternate image stands in.
// On a desktop with no tray host yet, the icon is made when one appears.
class QtStatusItem : public StatusItem {
  public:
    QtStatusItem();
    ~QtStatusItem() override;
    void setMenu(Menu* menu) override;
    void setImage(const std::string& resourceName) override;
    void setAlternateImage(const std::string& resourceName) override;
    void setToolTip(const std::string& toolTip) override;
    void setHighlightMode(bool on) override { m_highlight = on; }

    // Nothing while the icon waits for a tray host.
    QSystemTrayIcon* trayIcon() const { return m_tray.get(); }
    // The resource names of the images in force.
    const std::string& image() const { return m_imageName; }
    const std::string& alternateImage() const { return m_alternateName; }
    // Whether the alternate image is on show (the menu is open).
    bool showsAlternate() const { return m_menuOpen && m_highlight; }

  private:
    void createTray();
    void refresh();
    QPoint menuPosition() const;

    std::unique_ptr<TrayHosts> m_hosts;
    std::unique_ptr<QSystemTrayIcon> m_tray;
    QString m_toolTip;
    QPointer<QMenu> m_menu;
    std::string m_imageName, m_alternateName;
    QIcon m_image, m_alternate;
    bool m_highlight = false;
    bool m_menuOpen = false;
    std::vector<QMetaObject::Connection> m_menuConnections;
};

class QtWindow : public Window {
  public:
    explicit QtWindow(QWidget* widget) : m_widget(widget) {}
    void makeKeyAndOrderFront() override;
    void close() override { m_widget->hide(); }
    void setLevel(int level) override;
    bool isVisible() const override { return m_widget->isVisible(); }
    QWidget* widget() const { return m_widget; }

  private:
    QWidget* m_widget;
};

// A line edit, or a label standing in for a read-only field.
class QtTextField : public TextField {
  public:
    explicit QtTextField(QLineEdit* edit);
    explicit QtTextField(QLabel* label) : m_label(label) {}
    std::string stringValue() const override;
    void setStringValue(const std::string& text) override;
    void setTextDidChangeHandler(std::function<void()> handler) override {
        m_didChange = std::move(handler);
    }

  private:
    QLineEdit* m_edit = nullptr;
    QLabel* m_label = nullptr;
    std::function<void()> m_didChange;
};

// What the controls share: enabled state, a note label (shown only with text)
// and the action.
template <typename Base>
class QtControl : public Base {
  public:
    QtControl(QWidget* widget, QLabel* note) : m_widget(widget), m_noteLabel(note) {
        if (m_noteLabel) m_noteLabel->hide();
    }
    void setEnabled(bool enabled) override { m_widget->setEnabled(enabled); }
    bool isEnabled() const override { return m_widget->isEnabled(); }
    void setNote(const std::string& note) override {
        m_note = note;
        if (m_noteLabel) {
            m_noteLabel->setText(toQString(note));
            m_noteLabel->setVisible(!note.empty());
        } else {
            m_widget->setToolTip(toQString(note));
        }
    }
    std::string note() const override { return m_note; }
    void setAction(std::function<void()> action) override { m_action = std::move(action); }

  protected:
    void runAction() {
        if (m_action) m_action();
    }

  private:
    QWidget* m_widget;
    QLabel* m_noteLabel;
    std::string m_note;
    std::function<void()> m_action;
};

class QtButton : public QtControl<Button> {
  public:
    explicit QtButton(QAbstractButton* button, QLabel* note = nullptr);
    std::int64_t tag() const override { return m_tag; }
    void setTag(std::int64_t tag) override;
    std::string title() const override { return toStdString(m_button->text()); }
    void setTitle(const std::string& title) override { m_button->setText(toQString(title)); }
    int state() const override { return m_button->isChecked() ? 1 : 0; }
    void setState(int state) override { m_button->setChecked(state != 0); }
    QAbstractButton* button() const { return m_button; }

  private:
    QAbstractButton* m_button;
    std::int64_t m_tag = 0;
};

class QtPopUpButton : public QtControl<PopUpButton> {
  public:
    explicit QtPopUpButton(QComboBox* combo, QLabel* note = nullptr);
    void addItem(const std::string& title, std::int64_t tag);
    int numberOfItems() const override { return m_combo->count(); }
    int indexOfSelectedItem() const override { return m_combo->currentIndex(); }
    void selectItemAtIndex(int index) override;
    std::int64_t tagOfItem(int index) const override;
    std::string titleOfItem(int index) const override {
        return toStdString(m_combo->itemText(index));
    }

  private:
    QComboBox* m_combo;
};

}  // namespace ww::qt
