#include "ui/qt/accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QComboBox>

#include "ui/qt/ip_address_edit.h"

namespace flintmere::ui::qt {
namespace {

class IpAddressAccessible : public QAccessibleWidget {
  public:
    explicit IpAddressAccessible(IpAddressEdit* edit)
        : QAccessibleWidget(edit, QAccessible::EditableText) {}

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) {
            return static_cast<IpAddressEdit*>(widget())->AddressText();
        }
        return QAccessibleWidget::text(kind);
    }
};

// The stock interface of a drop-down list on Linux gives the entry shown as
// its name, so a screen reader says "Virtual 250" and never "Hardware type".
// Here the name is the list's own (its label's text) and the entry shown is
// its value, read over the bus as the list's text; the popup list stays its
// child.
class NamedComboAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
  public:
    explicit NamedComboAccessible(QComboBox* combo)
        : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text kind) const override {
        if (kind == QAccessible::Value) return Combo()->currentText();
        if (kind == QAccessible::Name) {
            const QString name = Combo()->accessibleName();
            return name.isEmpty() ? Combo()->currentText() : name;
        }
        return QAccessibleWidget::text(kind);
    }

    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override {
        return index == 0 ? QAccessible::queryAccessibleInterface(Combo()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        return child && child->object() == Combo()->view() ? 0 : -1;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    void doAction(const QString& action) override {
        if (action == showMenuAction() || action == pressAction()) Combo()->showPopup();
    }

    // The entry shown, read-only, with neither cursor nor selection.
    QString text(int start, int end) const override {
        return Combo()->currentText().mid(start, end - start);
    }
    int characterCount() const override { return int(Combo()->currentText().size()); }
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    int selectionCount() const override { return 0; }
    void selection(int, int* start, int* end) const override { *start = *end = 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    QRect characterRect(int) const override { return {}; }
    int offsetAtPoint(const QPoint&) const override { return -1; }
    void scrollToSubstring(int, int) override {}
    QString attributes(int, int* start, int* end) const override {
        *start = 0;
        *end = characterCount();
        return {};
    }

  private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className == QLatin1String("QComboBox")) {
        auto* combo = qobject_cast<QComboBox*>(object);
        // An editable list has its own text field, which the stock interface handles.
        if (combo && !combo->isEditable()) return new NamedComboAccessible(combo);
    }
    if (className == QLatin1String(IpAddressEdit::staticMetaObject.className())) {
        if (auto* edit = qobject_cast<IpAddressEdit*>(object)) {
            // Owned by Qt's accessibility cache.
            return new IpAddressAccessible(edit);
        }
    }
    return nullptr;
}

}  // namespace

void InstallAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    (void)installed;
}

}  // namespace flintmere::ui::qt
