// What every window and its scripted operator must do alike: the events an
// action raises, the controls it changes, and the writes that raise nothing.
// Runs on whatever window the harness factory builds.
#include <gtest/gtest.h>

#include "support/ui_harness.h"
#include "ui/control_ids.h"

namespace flintmere::ui {
namespace {

struct Event {
    int id;
    ControlEvent event;
    bool operator==(const Event&) const = default;
};

void PrintTo(const Event& e, std::ostream* os) {
    static const char* names[] = {"Clicked", "LostFocus", "SelectionChanged"};
    *os << e.id << ":" << names[static_cast<int>(e.event)];
}

struct Recorder final : EventSink {
    std::vector<Event> events;
    void OnControlEvent(int id, ControlEvent event) override { events.push_back({id, event}); }
};

class OperatorContract : public ::testing::Test {
  protected:
    void SetUp() override {
        window = testing::MakeUiWindow(sink);
        s = window.surface.get();
        op = window.op.get();
    }
    std::vector<Event> Take() { return std::exchange(sink.events, {}); }

    Recorder sink;
    testing::UiWindow window;
    ControlSurface* s = nullptr;
    testing::ScriptedOperator* op = nullptr;
};

constexpr ControlEvent kClick = ControlEvent::Clicked;
constexpr ControlEvent kLeave = ControlEvent::LostFocus;
constexpr ControlEvent kSelect = ControlEvent::SelectionChanged;

TEST_F(OperatorContract, ClicksToggleBoxesAndCheckRadiosBeforeTheirEvent) {
    op->Click(IdChkDhcp);
    EXPECT_TRUE(s->IsChecked(IdChkDhcp));
    op->Click(IdChkDhcp);
    EXPECT_FALSE(s->IsChecked(IdChkDhcp));
    EXPECT_EQ(Take(), (std::vector<Event>{{IdChkDhcp, kClick}, {IdChkDhcp, kClick}}));

    s->SetCheck(IdRadioGenNode, true);
    op->Click(IdRadioUseDb);
    EXPECT_TRUE(s->IsChecked(IdRadioUseDb));
    EXPECT_FALSE(s->IsChecked(IdRadioGenNode));
    EXPECT_FALSE(s->IsChecked(IdRadioUseNode));
    op->Click(IdRadioUseDb);  // a checked radio stays checked
    EXPECT_TRUE(s->IsChecked(IdRadioUseDb));
    EXPECT_EQ(Take(), (std::vector<Event>{
                          {IdChkDhcp, kLeave}, {IdRadioUseDb, kClick}, {IdRadioUseDb, kClick}}));
}

TEST_F(OperatorContract, DisabledHiddenAndReadOnlyControlsIgnoreTheOperator) {
    s->Enable(IdChkNetBoot, false);
    s->Show(IdChkUefi, false);
    s->Enable(IdHostName, false);
    s->Enable(IdInterface, false);
    s->ComboAdd(IdInterface, u"LAN Interface");
    s->ComboAdd(IdInterface, u"WAN Interface");
    s->ComboSelect(IdInterface, 0);
    op->Click(IdChkNetBoot);
    op->Click(IdChkUefi);
    op->Type(IdHostName, u"x");
    op->Type(IdDbPath, u"/tmp/config.xml");  // read-only path edit
    op->Choose(IdInterface, 1);
    EXPECT_FALSE(s->IsChecked(IdChkNetBoot));
    EXPECT_FALSE(s->IsChecked(IdChkUefi));
    EXPECT_EQ(s->GetText(IdHostName), u"");
    EXPECT_EQ(s->GetText(IdDbPath), u"");
    EXPECT_EQ(s->ComboSelection(IdInterface), 0);
    EXPECT_TRUE(Take().empty());
}

TEST_F(OperatorContract, TypingRespectsTheLimitAndRaisesNothingUntilTheFocusLeaves) {
    s->SetTextLimit(IdIpv6Netmask, 3);
    op->Type(IdIpv6Netmask, u"12345");
    EXPECT_EQ(s->GetText(IdIpv6Netmask), u"123");
    EXPECT_TRUE(Take().empty());
    op->Leave(IdIpv6Netmask);
    EXPECT_EQ(Take(), (std::vector<Event>{{IdIpv6Netmask, kLeave}}));

    // Moving on to another control is the focus leaving the first.
    op->Type(IdHostName, u"sbc1");
    op->TypeAddress(IdIpAddress, {10, 0, 0, 1});
    op->Click(IdChkInvert);
    EXPECT_EQ(Take(), (std::vector<Event>{
                          {IdHostName, kLeave}, {IdIpAddress, kLeave}, {IdChkInvert, kClick}}));
}

TEST_F(OperatorContract, AddressFieldsBlankOnlyWhenAllFourAreEmpty) {
    const struct {
        IpFields typed;
        bool blank;
        IpFields read;
    } cases[] = {
        {{-1, -1, -1, -1}, true, {0, 0, 0, 0}},
        {{192, 168, -1, 7}, false, {192, 168, 0, 7}},
        {{0, 0, 0, 0}, false, {0, 0, 0, 0}},
        {{300, 1, 2, 3}, false, {255, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        op->TypeAddress(IdDns1, c.typed);
        EXPECT_EQ(s->IsAddressBlank(IdDns1), c.blank) << c.typed[0];
        EXPECT_EQ(s->GetAddress(IdDns1), c.read) << c.typed[0];
    }
    op->Leave(IdDns1);
    EXPECT_EQ(Take(), (std::vector<Event>{{IdDns1, kLeave}}));
    s->ClearAddress(IdDns1);
    EXPECT_TRUE(s->IsAddressBlank(IdDns1));
}

TEST_F(OperatorContract, ChoosingRaisesSelectionChangedButCodeWritesRaiseNothing) {
    s->ComboAdd(IdInterface, u"LAN Interface");
    s->ComboAdd(IdInterface, u"WAN Interface");
    s->ComboSelect(IdInterface, 0);
    s->ComboInsert(IdInterface, 2, u"ADMIN Interface");
    s->SetCheck(IdChkAutomated, true);
    s->SetText(IdHostName, u"code");
    s->SetAddress(IdIpGateway, {10, 0, 0, 1});
    s->SetFocus(IdHostName);
    EXPECT_TRUE(Take().empty());

    op->Choose(IdInterface, 2);
    EXPECT_EQ(s->ComboSelection(IdInterface), 2);
    EXPECT_EQ(s->GetText(IdInterface), u"ADMIN Interface");
    op->Choose(IdInterface, 3);  // no such entry
    EXPECT_EQ(s->ComboSelection(IdInterface), 2);
    EXPECT_EQ(Take(), (std::vector<Event>{{IdHostName, kLeave}, {IdInterface, kSelect}}));
}

}  // namespace
}  // namespace flintmere::ui
