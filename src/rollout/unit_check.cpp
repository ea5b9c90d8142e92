#include "rollout/unit_check.h"

#include <cstdint>
#include <optional>

#include "config/config_model.h"
#include "config/form_rules.h"
#include "config/node_cfg_parse.h"
#include "platform/clock.h"
#include "platform/system_env.h"

namespace flintmere {
namespace {

class TableServices final : public SetupValidationServices {
  public:
    explicit TableServices(Presenter& boxes) : boxes_(boxes) {}
    bool CheckPendriveSoftware() override { return true; }
    bool CheckInstallImage() override { return true; }
    std::uint64_t SelectDrive(int) override { return kMinimumStickBytes; }
    void WriteLogLine(u16view) override {}
    Presenter& Boxes() override { return boxes_; }

  private:
    Presenter& boxes_;
};

// A run without an operator: the first box is kept as the reason, and
// every question is answered No.
class UnattendedBoxes final : public Presenter {
  public:
    int ShowMessage(const u16& text, const u16&, unsigned style, bool) override {
        if (!first_) first_ = text;
        return (style & 0xF) == kMbYesNo ? kIdNo : kIdOk;
    }
    const std::optional<u16>& First() const { return first_; }

  private:
    std::optional<u16> first_;
};

TableRefusal Refusal(const UnitRow& unit, std::string column, const u16& reason) {
    return {unit.row, std::move(column), Utf16ToUtf8(reason)};
}

std::optional<TableRefusal> CheckAsWindow(UnitRow& unit, bool iso) {
    SystemClock clock;
    LinuxSystemEnv env;
    UnattendedBoxes shown;
    AppServices reports({clock, shown, env, [](std::string_view) {}});
    SetupRecord model;
    model.ResetConfiguration(true);
    model.m_isoMedia = iso ? 1 : 0;

    const std::vector<std::uint8_t> bytes(unit.nodeCfg.begin(), unit.nodeCfg.end());
    if (!ConfigModel(reports).LoadNodeFileData(model, u"node.cfg", bytes)) {
        // The reader takes no node.cfg without a host name and a LAN address.
        const char* missing =
            ParseNodeCfg(unit.nodeCfg).label.empty() ? "kestrel_label" : "kestrel_lan";
        const u16 text = shown.First().value_or(u"File node.cfg is not compatible!");
        return Refusal(unit, missing,
                       FormatW(u"there is no %s value, and the window refuses a node.cfg "
                               u"without one (\"%s\")",
                               missing, text));
    }
    model.m_nodeFileLoaded = 1;

    const LoadedNodeForm loaded = ShowLoadedNodeFile(model, iso);
    const OptionBoxes& o = loaded.options;
    SetupRequestForm form;
    form.hardwareTypeText = loaded.hardware.text;
    form.hostName = model.m_serverName;
    form.netBoot = o.netBoot;
    form.preinstall = o.preinstall;
    form.dhcp = o.dhcp;
    form.singleArmed = o.singleArmed;
    form.automated = o.automated;
    form.sourceNodeFile = true;
    // One stick and the virtual-machine entry, which ends the list.
    form.mediaEntryCount = 2;
    form.selectedMediaEntry = iso ? 1 : 0;
    form.invert = o.invert;
    // The General fields as their controls give them back.
    const GeneralValues general{AsAddressControlGivesBack(model.m_dns1),
                                AsAddressControlGivesBack(model.m_dns2), model.m_logicId,
                                model.m_supplyServer1, model.m_supplyServer2};
    form.logicalId = general.logicalId;
    form.qmxUrl1 = general.qmxUrl1;
    form.qmxUrl2 = general.qmxUrl2;

    TableServices services(shown);
    OkDecision decision = DecideOk(model, form, general, services);
    if (decision.declined) {
        return Refusal(unit, decision.refusal->key,
                       FormatW(u"the window asks \"%s\", which a run without it cannot answer",
                               shown.First().value_or(u16())));
    }
    if (decision.refusal) return Refusal(unit, decision.refusal->key, decision.refusal->text);

    SetupRecord& record = *decision.request;
    record.m_preinstall = o.preinstall;
    record.m_netboot = o.netBoot;
    record.m_dhcp = o.dhcp;
    record.m_autoinstall = o.automated;
    record.m_uefi = loaded.layout.uefi;
    record.m_invert = form.invert;
    record.m_singleArmed = o.singleArmed;
    record.m_partitioned = loaded.layout.partitioned;
    record.m_gptPartition = loaded.layout.gpt;
    record.m_legacyBios = loaded.layout.legacy;

    unit.hostName = Utf16ToUtf8(record.m_serverName);
    unit.record = std::move(record);
    return std::nullopt;
}

}  // namespace

UnitCheck MakeNodeCfgModeCheck(bool iso) {
    return [iso](UnitRow& unit) { return CheckAsWindow(unit, iso); };
}

}  // namespace flintmere
