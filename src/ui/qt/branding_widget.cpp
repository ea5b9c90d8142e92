#include "ui/qt/branding_widget.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/control_ids.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/limited_edit.h"

namespace flintmere::ui::qt {

BrandingWidget::BrandingWidget(QWidget* parent) : ControlDialog(parent) {
    setWindowTitle(QStringLiteral("Branding"));
    setWindowIcon(AppIcon());

    auto* grid = new QGridLayout;
    int row = 0;
    auto addRow = [&](const QString& label, QWidget* field, QWidget* extra = nullptr) {
        auto* text = new QLabel(label, this);
        Label(text, field);
        grid->addWidget(text, row, 0);
        grid->addWidget(field, row, 1, 1, extra ? 1 : 2);
        if (extra) grid->addWidget(extra, row, 2);
        ++row;
    };
    addRow(QStringLiteral("&Company Name"), Add(IdBrandCompanyName, new LimitedEdit(this, 33)));
    addRow(QStringLiteral("&Product Name"), Add(IdBrandProductName, new LimitedEdit(this, 33)));
    addRow(QStringLiteral("&TLA"), Add(IdBrandTla, new LimitedEdit(this, 300)));
    auto* logo = Add(IdBrandLogoPath, new LimitedEdit(this, 260));
    auto* browse = new QPushButton(QStringLiteral("Browse"), this);
    browse->setAutoDefault(false);
    addRow(QStringLiteral("&Logo Picture File"), logo, Add(IdBrandBrowse, browse));
    grid->setColumnStretch(1, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* ok = Add(IdOk, new QPushButton(QStringLiteral("OK"), this));
    ok->setDefault(true);
    buttons->addWidget(ok);
    auto* cancel = Add(IdCancel, new QPushButton(QStringLiteral("Cancel"), this));
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(grid);
    outer->addStretch(1);
    outer->addLayout(buttons);
    // About as wide as the dialog the operators know; the TLA text is long.
    resize(std::max(sizeHint().width(), fontMetrics().averageCharWidth() * 87),
           sizeHint().height());
    setFixedHeight(sizeHint().height());
}

}  // namespace flintmere::ui::qt
