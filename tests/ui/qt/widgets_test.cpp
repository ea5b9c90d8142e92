// The real widgets of the main and branding dialogs: which operator actions
// raise which events, the limits of typed text, the IP address control, and
// what screen readers see.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <utility>
#include <vector>

#include "support/memory_surface.h"
#include "support/qt/qt_app.h"
#include "ui/control_ids.h"
#include "ui/qt/branding_widget.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/main_dialog_widget.h"
#include "ui/qt/qt_surface.h"

namespace flintmere::testing {
namespace {

using namespace flintmere::ui;
using ui::qt::IpAddressEdit;

struct Recorder final : EventSink {
    std::vector<std::pair<int, ControlEvent>> events;
    void OnControlEvent(int id, ControlEvent event) override { events.emplace_back(id, event); }
};

using Events = std::vector<std::pair<int, ControlEvent>>;

class QtWidgets : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureQtApp();
        surface.Register(window.Controls());
        surface.SetSink(&events);
        window.move(0, 0);  // all of it on the offscreen screen, where the mouse reaches
        window.show();
        QApplication::setActiveWindow(&window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QWidget* W(int id) { return surface.Widget(id); }
    // A check box takes clicks on its box and text, not on the empty rest of its row.
    void ClickOn(QWidget* w) {
        QTest::mouseClick(w, Qt::LeftButton, {},
                          QPoint(std::min(8, w->width() / 2), w->height() / 2));
    }
    // Keys go where the focus is, as the operator's keyboard does.
    void TypeKeys(const QString& keys) {
        for (QChar c : keys) QTest::keyClicks(QApplication::focusWidget(), QString(c));
    }

    QApplication& app = EnsureQtApp();
    ui::qt::MainDialogWidget window;
    ui::qt::QtSurface surface;
    Recorder events;
};

TEST_F(QtWidgets, MouseClickRaisesOneClickAndCodeRaisesNothing) {
    const int buttons[] = {IdChkAutomated,   IdChkPreInstall,    IdChkNetBoot,     IdChkDhcp,
                           IdChkUefi,        IdChkInvert,        IdChkSingleArmed, IdChkGpt,
                           IdChkPartitioned, IdDisableInterface, IdRadioUseDb,     IdRefresh,
                           IdBranding};
    for (int id : buttons) {
        SCOPED_TRACE(id);
        events.events.clear();
        surface.SetCheck(id, true);
        surface.SetCheck(id, false);
        surface.Enable(id, false);
        surface.Enable(id, true);
        EXPECT_TRUE(events.events.empty()) << "state set by code raised an event";
        const bool checkable = qobject_cast<QAbstractButton*>(W(id))->isCheckable();
        ClickOn(W(id));
        EXPECT_EQ(events.events, (Events{{id, ControlEvent::Clicked}}));
        EXPECT_EQ(surface.IsChecked(id), checkable);
    }
    // A disabled control ignores the mouse.
    events.events.clear();
    surface.Enable(IdChkDhcp, false);
    ClickOn(W(IdChkDhcp));
    EXPECT_TRUE(events.events.empty());
    EXPECT_FALSE(surface.IsEnabled(IdChkDhcp));
}

TEST_F(QtWidgets, EscapeAndTheCloseBoxAreTheCancelButton) {
    window.onCancel = [this] { events.OnControlEvent(IdCancel, ControlEvent::Clicked); };
    QTest::keyClick(&window, Qt::Key_Escape);
    window.close();
    EXPECT_EQ(events.events,
              (Events{{IdCancel, ControlEvent::Clicked}, {IdCancel, ControlEvent::Clicked}}));
    EXPECT_TRUE(window.isVisible()) << "only the logic ends the dialog";
}

TEST_F(QtWidgets, CodeChecksOneRadioOnlyAndCanClearTheCheckedOne) {
    surface.SetCheck(IdRadioGenNode, true);
    surface.SetCheck(IdRadioGenNode, false);
    EXPECT_FALSE(surface.IsChecked(IdRadioGenNode));
    surface.SetCheck(IdRadioGenNode, true);
    ClickOn(W(IdRadioUseNode));
    EXPECT_TRUE(surface.IsChecked(IdRadioUseNode));
    EXPECT_FALSE(surface.IsChecked(IdRadioGenNode));
    EXPECT_EQ(events.events, (Events{{IdRadioUseNode, ControlEvent::Clicked}}));
}

TEST_F(QtWidgets, KeyboardChoiceInAListRaisesOneSelectionChange) {
    for (const char16_t* entry : {u"", u"Virtual 250", u"Virtual 6000"}) {
        surface.ComboAdd(IdHardwareType, entry);
    }
    // Entries added by code leave the list without a selection, as the logic expects.
    EXPECT_EQ(surface.ComboSelection(IdHardwareType), -1);
    surface.ComboSelect(IdHardwareType, 0);
    surface.ComboInsert(IdHardwareType, 0, u"first");
    EXPECT_EQ(surface.ComboSelection(IdHardwareType), 1);
    EXPECT_TRUE(events.events.empty());

    W(IdHardwareType)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(W(IdHardwareType), Qt::Key_Down);
    EXPECT_EQ(events.events, (Events{{IdHardwareType, ControlEvent::SelectionChanged}}));
    EXPECT_EQ(surface.ComboSelection(IdHardwareType), 2);
    EXPECT_EQ(surface.GetText(IdHardwareType), u"Virtual 250");
}

TEST_F(QtWidgets, LeavingAnAddressControlRaisesOneLostFocus) {
    auto* ip = qobject_cast<IpAddressEdit*>(W(IdIpAddress));
    ClickOn(ip->Field(0));
    // The dot moves on to the next field; moving between fields raises nothing.
    TypeKeys(QStringLiteral("10.1.22.3"));
    ClickOn(ip->Field(1));
    ClickOn(ip->Field(3));
    EXPECT_TRUE(events.events.empty());
    EXPECT_EQ(ip->Field(2)->text(), QStringLiteral("22"));
    EXPECT_EQ(surface.GetAddress(IdIpAddress), (IpFields{10, 1, 22, 3}));
    EXPECT_FALSE(surface.IsAddressBlank(IdIpAddress));

    ClickOn(W(IdChkDhcp));
    EXPECT_EQ(events.events,
              (Events{{IdIpAddress, ControlEvent::LostFocus}, {IdChkDhcp, ControlEvent::Clicked}}));

    // Three digits complete a field; a value above 255 becomes 255.
    events.events.clear();
    auto* mask = qobject_cast<IpAddressEdit*>(W(IdIpNetmask));
    ClickOn(mask->Field(0));
    TypeKeys(QStringLiteral("300255"));
    EXPECT_EQ(mask->Field(0)->text(), QStringLiteral("255"));
    EXPECT_EQ(mask->Field(1)->text(), QStringLiteral("255"));
    QTest::keyClick(mask->Field(1), Qt::Key_Tab);
    EXPECT_TRUE(events.events.empty()) << "the next field is still the same control";
}

TEST_F(QtWidgets, AddressControlIsBlankOnlyWithAllFieldsEmpty) {
    auto* ip = qobject_cast<IpAddressEdit*>(W(IdDns1));
    EXPECT_TRUE(surface.IsAddressBlank(IdDns1));
    EXPECT_EQ(surface.GetAddress(IdDns1), (IpFields{0, 0, 0, 0}));
    ip->Field(2)->setText(QStringLiteral("7"));
    EXPECT_FALSE(surface.IsAddressBlank(IdDns1));
    EXPECT_EQ(surface.GetAddress(IdDns1), (IpFields{0, 0, 7, 0}));
    surface.SetAddress(IdDns1, {1, 2, 3, 4});
    EXPECT_EQ(surface.GetText(IdDns1), u"1.2.3.4");
    surface.ClearAddress(IdDns1);
    EXPECT_TRUE(surface.IsAddressBlank(IdDns1));
    EXPECT_EQ(surface.GetText(IdDns1), u"");
    EXPECT_TRUE(events.events.empty());
}

TEST_F(QtWidgets, EditLostFocusOnlyWhenTheOperatorLeaves) {
    ClickOn(W(IdHostName));
    QTest::keyClicks(W(IdHostName), QStringLiteral("node"));
    // Return stores the field before it presses the default button; the
    // program moving the focus is no leaving.
    QTest::keyClick(W(IdHostName), Qt::Key_Return);
    surface.SetFocus(IdIpv6Gateway);
    EXPECT_EQ(events.events,
              (Events{{IdHostName, ControlEvent::LostFocus}, {IdOk, ControlEvent::Clicked}}));
    events.events.clear();
    QTest::keyClick(W(IdIpv6Gateway), Qt::Key_Tab);
    EXPECT_EQ(events.events, (Events{{IdIpv6Gateway, ControlEvent::LostFocus}}));
}

TEST_F(QtWidgets, TypedTextStopsAtEachLimit) {
    const std::pair<int, int> limits[] = {
        {IdHostName, 64},   {IdIpv6Address, 39}, {IdIpv6Netmask, 3}, {IdIpv6Gateway, 39},
        {IdLogicalId, 128}, {IdQmxUrl1, 30},     {IdQmxUrl2, 30}};
    for (const auto& [id, limit] : limits) {
        SCOPED_TRACE(id);
        EXPECT_EQ(surface.TextLimit(id), limit);
        ClickOn(W(id));
        QTest::keyClicks(W(id), QString(limit + 5, u'7'));
        EXPECT_EQ(surface.GetText(id).size(), static_cast<std::size_t>(limit));
    }
    // A limit the logic sets holds for typing, not for the program's own text.
    surface.SetTextLimit(IdHostName, 5);
    surface.SetText(IdHostName, u"a-long-name");
    EXPECT_EQ(surface.GetText(IdHostName), u"a-long-name");
    ClickOn(W(IdHostName));
    QTest::keyClick(W(IdHostName), Qt::Key_End);
    QTest::keyClicks(W(IdHostName), QStringLiteral("xy"));
    EXPECT_EQ(surface.GetText(IdHostName), u"a-long-name");
    QTest::keyClick(W(IdHostName), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(W(IdHostName), QStringLiteral("abcdefgh"));
    EXPECT_EQ(surface.GetText(IdHostName), u"abcde");
}

TEST(QtBranding, TypedTextStopsAtEachLimit) {
    EnsureQtApp();
    ui::qt::BrandingWidget window(nullptr);
    ui::qt::QtSurface surface;
    surface.Register(window.Controls());
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Branding"));
    const std::pair<int, int> limits[] = {{IdBrandCompanyName, 33},
                                          {IdBrandProductName, 33},
                                          {IdBrandTla, 300},
                                          {IdBrandLogoPath, 260}};
    for (const auto& [id, limit] : limits) {
        SCOPED_TRACE(id);
        QWidget* edit = surface.Widget(id);
        QTest::mouseClick(edit, Qt::LeftButton, {}, edit->rect().center());
        QTest::keyClicks(edit, QString(limit + 3, u'x'));
        EXPECT_EQ(surface.GetText(id).size(), static_cast<std::size_t>(limit));
    }
}

// The widgets carry every control the dialog logic knows, and no other.
TEST(QtDialogs, HaveEveryControlOfTheirTemplate) {
    EnsureQtApp();
    const auto ids = [](const std::map<int, QWidget*>& controls) {
        std::vector<int> out;
        for (const auto& entry : controls) out.push_back(entry.first);
        return out;
    };
    const auto memoryIds = [](void (*registerControls)(MemorySurface&)) {
        MemorySurface memory;
        registerControls(memory);
        std::vector<int> out = memory.Ids();
        std::sort(out.begin(), out.end());
        return out;
    };
    ui::qt::MainDialogWidget main;
    EXPECT_EQ(ids(main.Controls()), memoryIds(RegisterMainDialogControls));
    ui::qt::BrandingWidget branding(nullptr);
    EXPECT_EQ(ids(branding.Controls()), memoryIds(RegisterBrandingDialogControls));
}

TEST(QtDialogs, MainWindowFrameCaptionIconAndButtons) {
    EnsureQtApp();
    ui::qt::MainDialogWidget window;
    ui::qt::QtSurface surface;
    surface.Register(window.Controls());
    EXPECT_EQ(window.windowTitle(), QStringLiteral("ZEV USB Stick Setup"));
    EXPECT_FALSE(window.windowIcon().isNull());
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "fixed size";
    EXPECT_TRUE(qobject_cast<QPushButton*>(surface.Widget(IdOk))->isDefault());
    EXPECT_EQ(surface.GetText(IdHelp), u"&Help");
    EXPECT_EQ(surface.GetText(IdRefresh), u"&Refresh");
    EXPECT_TRUE(qobject_cast<QLineEdit*>(surface.Widget(IdDbPath))->isReadOnly());
    EXPECT_TRUE(qobject_cast<QLineEdit*>(surface.Widget(IdNodePath))->isReadOnly());
    EXPECT_FALSE(qobject_cast<QComboBox*>(surface.Widget(IdMediaSelect))->isEditable());
    EXPECT_FALSE(qobject_cast<QComboBox*>(surface.Widget(IdHardwareType))->isEditable());

    // Hiding the USB-only groups keeps the frame and the other controls in place.
    window.show();
    const QPoint okAt = surface.Widget(IdOk)->pos();
    const QSize size = window.size();
    for (int id : {IdGroupUsbOptions, IdGroupGeneral, IdChkAutomated, IdChkDhcp}) {
        surface.Show(id, false);
    }
    QApplication::processEvents();
    EXPECT_EQ(window.size(), size);
    EXPECT_EQ(surface.Widget(IdOk)->pos(), okAt);
    EXPECT_FALSE(surface.IsShown(IdGroupGeneral));
    EXPECT_TRUE(surface.IsShown(IdDns1)) << "a control's own shown state, as the logic sets it";
}

TEST(QtDialogs, ScreenReadersSeeNamesAndAddresses) {
    EnsureQtApp();
    ui::qt::MainDialogWidget window;
    ui::qt::QtSurface surface;
    surface.Register(window.Controls());
    window.show();
    // A list with an entry shown is named by its label all the same; the
    // entry is its value.
    const std::pair<int, const char16_t*> lists[] = {
        {IdHardwareType, u"Virtual 250"}, {IdInterface, u"LAN Interface"}, {IdMediaSelect, u"sdb"}};
    for (const auto& [id, entry] : lists) surface.ComboSelect(id, surface.ComboAdd(id, entry));
    const auto text = [&](int id, QAccessible::Text kind) {
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(surface.Widget(id));
        return a ? a->text(kind) : QStringLiteral("<none>");
    };
    const auto name = [&](int id) { return text(id, QAccessible::Name); };
    for (const auto& [id, entry] : lists)
        EXPECT_EQ(text(id, QAccessible::Value), ui::qt::ToQString(entry));
    const std::pair<int, const char*> names[] = {
        {IdHostName, "Hostname:"},
        {IdHardwareType, "Hardware type"},
        {IdInterface, "Interface"},
        {IdMediaSelect, "Media Select"},
        {IdIpAddress, "IPv4 address:"},
        {IdIpNetmask, "IPv4 netmask:"},
        {IdIpGateway, "IPv4 gateway:"},
        {IdIpv6Address, "IPv6 address:"},
        {IdIpv6Netmask, "IPv6 netmask:"},
        {IdIpv6Gateway, "IPv6 gateway:"},
        {IdDns1, "DNS 1:"},
        {IdDns2, "DNS 2:"},
        {IdLogicalId, "Logical ID:"},
        {IdQmxUrl1, "QMX URL 1:"},
        {IdQmxUrl2, "QMX URL 2:"},
        {IdDbPath, "Database file"},
        {IdNodePath, "node.cfg file"},
        {IdChkAutomated, "Automated"},
        {IdChkLegacyBios, "DOS Partition (MBR / Legacy Bios)"},
        {IdRadioGenNode, "Generate node.cfg file"},
        {IdRefresh, "Refresh"},
        {IdOk, "OK"},
        {IdBranding, "Change Branding Names and Logo"},
    };
    for (const auto& [id, expected] : names) {
        EXPECT_EQ(name(id), QString::fromUtf8(expected)) << id;
    }
    QAccessibleInterface* ip = QAccessible::queryAccessibleInterface(surface.Widget(IdIpGateway));
    ASSERT_NE(ip, nullptr);
    EXPECT_EQ(ip->text(QAccessible::Value), QString());
    surface.SetAddress(IdIpGateway, {192, 0, 2, 1});
    EXPECT_EQ(ip->text(QAccessible::Value), QStringLiteral("192.0.2.1"));
}

}  // namespace
}  // namespace flintmere::testing
