// The in-memory window's own bookkeeping beyond the operator contract.
#include "support/memory_surface.h"

#include <gtest/gtest.h>

#include "ui/control_ids.h"

namespace flintmere::ui {
namespace {

TEST(MemorySurface, ListsKeepTheirSelectionOnInsertAndDropItOnReset) {
    MemorySurface s;
    RegisterMainDialogControls(s);
    s.ComboAdd(IdHardwareType, u"a");
    s.ComboAdd(IdHardwareType, u"c");
    s.ComboSelect(IdHardwareType, 1);
    EXPECT_EQ(s.ComboInsert(IdHardwareType, 1, u"b"), 1);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), 2);
    EXPECT_EQ(s.ComboEntry(IdHardwareType, 2), u"c");
    s.ComboSelect(IdHardwareType, 7);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), -1);
    s.ComboSelect(IdHardwareType, 0);
    s.ComboReset(IdHardwareType);
    EXPECT_EQ(s.ComboCount(IdHardwareType), 0);
    EXPECT_EQ(s.ComboSelection(IdHardwareType), -1);

    // Addresses read back as text; a control that does not exist is reported.
    s.SetText(IdIpGateway, u"10.1.2.3");
    EXPECT_EQ(s.GetAddress(IdIpGateway), (IpFields{10, 1, 2, 3}));
    EXPECT_EQ(s.GetText(IdIpGateway), u"10.1.2.3");
    EXPECT_TRUE(s.UnknownIds().empty());
    s.Enable(4242, false);
    EXPECT_EQ(s.UnknownIds(), std::vector<int>{4242});
    EXPECT_NE(s.Dump().find("unknown ids used: 4242"), std::string::npos);
}

}  // namespace
}  // namespace flintmere::ui
