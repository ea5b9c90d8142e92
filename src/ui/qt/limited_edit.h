// A line edit whose limit stops only what the operator types: text the
// program puts in stays whole even when it is longer than the limit.
#pragma once

#include <QLineEdit>

namespace flintmere::ui::qt {

class LimitedEdit : public QLineEdit {
    Q_OBJECT

  public:
    explicit LimitedEdit(QWidget* parent, int limit = 32767);

    void SetTextLimit(int limit);
    int TextLimit() const { return limit_; }
    // Replaces the whole text; the limit does not cut it.
    void SetWholeText(const QString& text);

  private:
    void FitMaxLength();

    int limit_;
};

}  // namespace flintmere::ui::qt
