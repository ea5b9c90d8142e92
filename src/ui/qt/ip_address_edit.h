// An IPv4 address control: four fields 0..255 behind one focus. The dot moves
// to the next field; the control reports one lost focus when the focus leaves
// all four fields, not when it moves between them.
#pragma once

#include <QLineEdit>
#include <QWidget>
#include <array>

namespace flintmere::ui::qt {

class IpAddressEdit : public QWidget {
    Q_OBJECT

  public:
    explicit IpAddressEdit(QWidget* parent);

    // Blank fields read as 0.
    std::array<int, 4> Fields() const;
    void SetFields(const std::array<int, 4>& fields);
    void Clear();
    bool IsBlank() const;
    // "a.b.c.d", or "" when blank.
    QString AddressText() const;
    QLineEdit* Field(int index) const { return fields_[static_cast<std::size_t>(index)]; }
    // True when `widget` is one of the four fields.
    bool OwnsFocusWidget(QWidget* widget) const;

  signals:
    void lostFocus();
    void addressChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int IndexOf(QObject* field) const;
    void ClampField(int index);

    std::array<QLineEdit*, 4> fields_{};
};

}  // namespace flintmere::ui::qt
