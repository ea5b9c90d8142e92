#include "ui/qt/main_dialog_widget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/control_ids.h"
#include "ui/qt/app_icon.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/limited_edit.h"

namespace flintmere::ui::qt {
namespace {

QComboBox* DropDownList(QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(false);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    combo->setMinimumContentsLength(12);
    return combo;
}

}  // namespace

MainDialogWidget::MainDialogWidget(QWidget* parent) : ControlDialog(parent) {
    setWindowTitle(QStringLiteral("ZEV USB Stick Setup"));
    setWindowIcon(AppIcon());
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left, 3);
    columns->addLayout(right, 2);

    // --- Media Select ---
    auto* media = Add(IdGroupMediaSelect, new QGroupBox(QStringLiteral("Media Select"), this));
    auto* mediaLayout = new QGridLayout(media);
    auto* mediaList = Add(IdMediaSelect, DropDownList(media));
    mediaList->setAccessibleName(QStringLiteral("Media Select"));
    mediaList->setMinimumContentsLength(30);
    mediaLayout->addWidget(mediaList, 0, 0);
    mediaLayout->addWidget(Add(IdRefresh, new QPushButton(QStringLiteral("&Refresh"), media)), 0,
                           1);
    auto* warning = Add(IdEraseWarning,
                        new QLabel(QStringLiteral("WARNING: all data of the removable media will "
                                                  "be erased."),
                                   media));
    warning->setStyleSheet(QStringLiteral("color: #a01010; font-weight: bold;"));
    mediaLayout->addWidget(warning, 1, 0, 1, 2);
    mediaLayout->setColumnStretch(0, 1);
    left->addWidget(media);

    // --- Configuration database ---
    auto* source =
        Add(IdGroupConfigDb, new QGroupBox(QStringLiteral("Configuration database"), this));
    auto* sourceLayout = new QGridLayout(source);
    sourceLayout->addWidget(
        Add(IdRadioGenNode, new QRadioButton(QStringLiteral("Generate node.cfg file"), source)), 0,
        0, 1, 3);
    sourceLayout->addWidget(
        Add(IdRadioUseDb,
            new QRadioButton(QStringLiteral("Already existent database file"), source)),
        1, 0);
    auto* dbPath = Add(IdDbPath, new LimitedEdit(source));
    dbPath->setReadOnly(true);
    dbPath->setAccessibleName(QStringLiteral("Database file"));
    sourceLayout->addWidget(dbPath, 1, 1);
    auto* dbBrowse = Add(IdDbBrowse, new QPushButton(QStringLiteral("..."), source));
    dbBrowse->setAccessibleDescription(QStringLiteral("Choose a database file"));
    sourceLayout->addWidget(dbBrowse, 1, 2);
    sourceLayout->addWidget(
        Add(IdRadioUseNode,
            new QRadioButton(QStringLiteral("Already existent node.cfg file"), source)),
        2, 0);
    auto* nodePath = Add(IdNodePath, new LimitedEdit(source));
    nodePath->setReadOnly(true);
    nodePath->setAccessibleName(QStringLiteral("node.cfg file"));
    sourceLayout->addWidget(nodePath, 2, 1);
    auto* nodeBrowse = Add(IdNodeBrowse, new QPushButton(QStringLiteral("..."), source));
    nodeBrowse->setAccessibleDescription(QStringLiteral("Choose a node.cfg file"));
    sourceLayout->addWidget(nodeBrowse, 2, 2);
    for (QPushButton* button : {dbBrowse, nodeBrowse}) {
        button->setFixedWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 16);
    }
    sourceLayout->setColumnStretch(1, 1);
    left->addWidget(source);

    // --- SBC Network Configuration ---
    auto* network =
        Add(IdGroupNetwork, new QGroupBox(QStringLiteral("SBC Network Configuration"), this));
    auto* net = new QGridLayout(network);
    int row = 0;
    auto addRow = [&](const QString& label, QWidget* field, QWidget* extra = nullptr) {
        auto* text = new QLabel(label, network);
        Label(text, field);
        net->addWidget(text, row, 0);
        net->addWidget(field, row, 1, 1, extra ? 1 : 2);
        if (extra) net->addWidget(extra, row, 2);
        ++row;
    };
    auto* hardware = Add(IdHardwareType, DropDownList(network));
    addRow(QStringLiteral("Hard&ware type:"), hardware);
    // A list is announced by its name, then the entry shown.
    hardware->setAccessibleName(QStringLiteral("Hardware type"));
    addRow(QStringLiteral("Host&name:"), Add(IdHostName, new LimitedEdit(network, 64)));
    auto* interfaces = Add(IdInterface, DropDownList(network));
    addRow(QStringLiteral("&Interface:"), interfaces,
           Add(IdDisableInterface, new QCheckBox(QStringLiteral("Disable interface"), network)));
    interfaces->setAccessibleName(QStringLiteral("Interface"));
    addRow(QStringLiteral("IPv4 &address:"), Add(IdIpAddress, new IpAddressEdit(network)));
    addRow(QStringLiteral("IPv4 net&mask:"), Add(IdIpNetmask, new IpAddressEdit(network)));
    addRow(QStringLiteral("IPv4 &gateway:"), Add(IdIpGateway, new IpAddressEdit(network)));
    addRow(QStringLiteral("IPv6 a&ddress:"), Add(IdIpv6Address, new LimitedEdit(network, 39)));
    auto* prefix = Add(IdIpv6Netmask, new LimitedEdit(network, 3));
    prefix->setMaximumWidth(prefix->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 16);
    addRow(QStringLiteral("IPv6 ne&tmask:"), prefix);
    addRow(QStringLiteral("IPv6 gat&eway:"), Add(IdIpv6Gateway, new LimitedEdit(network, 39)));
    net->setColumnStretch(1, 1);
    left->addWidget(network);
    left->addStretch(1);

    // --- Installation Method ---
    auto* method =
        Add(IdGroupInstallMethod, new QGroupBox(QStringLiteral("Installation Method"), this));
    auto* methodLayout = new QGridLayout(method);
    // The USB-only options above, the two that every medium has below: for
    // an ISO image the group shrinks to its last row.
    const std::pair<int, const char*> usbOnly[] = {
        {IdChkAutomated, "Automated"}, {IdChkPreInstall, "PreInstall"}, {IdChkNetBoot, "Net boot"},
        {IdChkDhcp, "DHCP"},           {IdChkUefi, "UEFI Bootloader"},
    };
    int index = 0;
    for (const auto& [id, text] : usbOnly) {
        methodLayout->addWidget(Add(id, new QCheckBox(QString::fromLatin1(text), method), false),
                                index / 2, index % 2);
        ++index;
    }
    methodLayout->addWidget(
        Add(IdChkSingleArmed, new QCheckBox(QStringLiteral("Single Armed"), method)), 3, 0);
    methodLayout->addWidget(Add(IdChkInvert, new QCheckBox(QStringLiteral("Invert"), method)), 3,
                            1);
    right->addWidget(method);

    // --- USB Options ---
    auto* usb = Add(IdGroupUsbOptions, new QGroupBox(QStringLiteral("USB Options"), this));
    auto* usbLayout = new QVBoxLayout(usb);
    usbLayout->addWidget(Add(
        IdChkLegacyBios, new QCheckBox(QStringLiteral("DOS Partition (MBR / Legacy Bios)"), usb)));
    usbLayout->addWidget(Add(IdChkGpt, new QCheckBox(QStringLiteral("GPT Partition"), usb)));
    usbLayout->addWidget(
        Add(IdChkPartitioned, new QCheckBox(QStringLiteral("Partitioned USB Stick"), usb)));
    right->addWidget(usb);

    // --- General ---
    auto* general = Add(IdGroupGeneral, new QGroupBox(QStringLiteral("General"), this));
    auto* gen = new QGridLayout(general);
    row = 0;
    auto addGeneral = [&](int labelId, const QString& label, QWidget* field) {
        auto* text = Add(labelId, new QLabel(label, general));
        Label(text, field);
        gen->addWidget(text, row, 0);
        gen->addWidget(field, row, 1);
        ++row;
    };
    addGeneral(IdLabelDns1, QStringLiteral("DNS &1:"), Add(IdDns1, new IpAddressEdit(general)));
    addGeneral(IdLabelDns2, QStringLiteral("DNS &2:"), Add(IdDns2, new IpAddressEdit(general)));
    addGeneral(IdLabelLogicalId, QStringLiteral("&Logical ID:"),
               Add(IdLogicalId, new LimitedEdit(general, 128)));
    addGeneral(IdLabelQmxUrl1, QStringLiteral("&QMX URL 1:"),
               Add(IdQmxUrl1, new LimitedEdit(general, 30)));
    addGeneral(IdLabelQmxUrl2, QStringLiteral("QMX &URL 2:"),
               Add(IdQmxUrl2, new LimitedEdit(general, 30)));
    gen->setColumnStretch(1, 1);
    right->addWidget(general);
    right->addStretch(1);

    // --- buttons ---
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(
        Add(IdBranding, new QPushButton(QStringLiteral("Change Branding Names and Logo"), this)));
    buttons->addStretch(1);
    auto* help = Add(IdHelp, new QPushButton(QStringLiteral("&Help"), this), false);
    help->setAutoDefault(false);
    buttons->addWidget(help);
    auto* ok = Add(IdOk, new QPushButton(QStringLiteral("OK"), this));
    ok->setDefault(true);
    buttons->addWidget(ok);
    auto* cancel = Add(IdCancel, new QPushButton(QStringLiteral("Cancel"), this));
    cancel->setAutoDefault(false);
    buttons->addWidget(cancel);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(columns);
    outer->addLayout(buttons);

    // A fixed frame: the size with every control shown, kept in every mode.
    setFixedSize(sizeHint());
}

}  // namespace flintmere::ui::qt
