#include "ui/qt/accessibility.h"

#include <QAccessibleWidget>

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

QAccessibleInterface* Factory(const QString& className, QObject* object) {
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
