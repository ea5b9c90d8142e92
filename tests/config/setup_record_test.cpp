#include "config/setup_record.h"

#include <gtest/gtest.h>

#include "config/setup_validation.h"
#include "platform/presenter.h"
#include "support/recording_presenter.h"

namespace flintmere {
namespace {

SetupRecord FilledRecord() {
    SetupRecord r;
    for (u16* text :
         {&r.m_wanAddress,    &r.m_wanNetmask,    &r.m_lanAddress,     &r.m_lanNetmask,
          &r.m_adminAddress,  &r.m_adminNetmask,  &r.m_gateway,        &r.m_wanAddress6,
          &r.m_wanPrefix6,    &r.m_lanAddress6,   &r.m_lanPrefix6,     &r.m_gateway6,
          &r.m_serverName,    &r.m_logicId,       &r.m_dns1,           &r.m_dns2,
          &r.m_supplyServer1, &r.m_supplyServer2, &r.m_hwPlatformText, &r.m_vmPlatformText}) {
        *text = u"x";
    }
    for (Flag* flag : {&r.m_preinstall, &r.m_autoinstall, &r.m_netboot, &r.m_dhcp, &r.m_uefi,
                       &r.m_invert, &r.m_singleArmed}) {
        *flag = 1;
    }
    r.m_partitioned = 1;
    r.m_gptPartition = 1;
    r.m_legacyBios = 0;
    r.m_hwType = HwSr630;
    r.m_isoMedia = 1;
    r.m_companyName = u"ACME";
    r.m_logoFile = u"logo.png";
    r.m_isoPath = u"/tmp/a.iso";
    return r;
}

TEST(SetupRecord, ConstructionValues) {
    SetupRecord r;
    EXPECT_EQ(r.m_legacyBios, 1);
    EXPECT_EQ(r.m_hwType, -1);
    EXPECT_EQ(r.m_productName, u"Corvane SBC");
    EXPECT_FALSE(r.m_companyName.empty());
    EXPECT_FALSE(r.m_tla.empty());
    EXPECT_EQ(r.m_wanDisabled + r.m_lanDisabled + r.m_adminDisabled, 0);
    EXPECT_TRUE(r.m_serverName.empty());
    EXPECT_EQ(r.m_configSource, ConfigFromNodeFile);
}

TEST(SetupRecord, DefaultBrandingPassesTheBrandingChecks) {
    SetupRecord r;
    EXPECT_LE(r.m_companyName.size(), 33u);
    EXPECT_LE(r.m_productName.size(), 33u);
    EXPECT_LE(r.m_tla.size(), 300u);
    RecordingPresenter boxes;
    EXPECT_TRUE(CheckBrandingText(u"Company Name", r.m_companyName, boxes));
    EXPECT_TRUE(CheckBrandingText(u"Product Name", r.m_productName, boxes));
    EXPECT_TRUE(CheckBrandingText(u"TLA", r.m_tla, boxes));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST(SetupRecord, ResetKeepsOrResetsMediaOptionsAndNothingElse) {
    for (bool withMedia : {false, true}) {
        SetupRecord r = FilledRecord();
        r.ResetConfiguration(withMedia);
        EXPECT_EQ(r.m_serverName, u"unnamed");
        EXPECT_EQ(r.m_wanDisabled, 1);
        EXPECT_EQ(r.m_lanDisabled, 1);
        EXPECT_EQ(r.m_adminDisabled, 1);
        for (const u16* text :
             {&r.m_wanAddress, &r.m_wanNetmask, &r.m_lanAddress, &r.m_lanNetmask, &r.m_adminAddress,
              &r.m_adminNetmask, &r.m_gateway, &r.m_wanAddress6, &r.m_wanPrefix6, &r.m_lanAddress6,
              &r.m_lanPrefix6, &r.m_gateway6, &r.m_logicId, &r.m_dns1, &r.m_dns2,
              &r.m_supplyServer1, &r.m_supplyServer2, &r.m_hwPlatformText, &r.m_vmPlatformText}) {
            EXPECT_TRUE(text->empty());
        }
        EXPECT_EQ(r.m_preinstall + r.m_autoinstall + r.m_netboot + r.m_dhcp + r.m_uefi +
                      r.m_invert + r.m_singleArmed,
                  0);
        EXPECT_EQ(r.m_partitioned, withMedia ? 0 : 1);
        EXPECT_EQ(r.m_gptPartition, withMedia ? 0 : 1);
        EXPECT_EQ(r.m_legacyBios, withMedia ? 1 : 0);
        // Untouched by a reset.
        EXPECT_EQ(r.m_hwType, HwSr630);
        EXPECT_EQ(r.m_isoMedia, 1);
        EXPECT_EQ(r.m_companyName, u"ACME");
        EXPECT_EQ(r.m_logoFile, u"logo.png");
        EXPECT_EQ(r.m_isoPath, u"/tmp/a.iso");
    }
}

}  // namespace
}  // namespace flintmere
