#include "config/setup_validation.h"

#include "config/address_checks.h"
#include "config/host_name_checks.h"

namespace flintmere {

namespace {

constexpr char16_t kError[] = u"Error";

constexpr char16_t kServerNameTooLarge[] =
    u"Invalid Server Name configuration: hostname too large. The Server Name field follow the "
    u"rules for Domain Name Labels. Allowable characters in a label for a host name are only "
    u"ASCII letters, digits, and the `-' character. Labels may not be all numbers, but may "
    u"have a leading digit. Labels must end and begin only with a letter or digit. Up to 63 "
    u"characters are allowed.";
constexpr char16_t kServerNameInvalid[] =
    u"Invalid Server Name configuration: invalid character(s). The Server Name field follow "
    u"the rules for Domain Name Labels. Allowable characters in a label for a host name are "
    u"only ASCII letters, digits, and the `-' character. Labels may not be all numbers, but "
    u"may have a leading digit. Labels must end and begin only with a letter or digit. Up to "
    u"63 characters are allowed.";

struct FieldError {
    u16 text;
    FormField field = FormField::Form;
};

ValidationResult Reject(FormField field, u16 message, u16 caption = kError, bool owned = false) {
    return {ValidationOutcome::Rejected, std::move(message), std::move(caption), owned, field};
}
ValidationResult Reject(FieldError e) {
    return Reject(e.field, std::move(e.text));
}

u16view Trimmed(u16view text) {
    constexpr u16view kSpace = u" \t\n\v\f\r";
    const auto first = text.find_first_not_of(kSpace);
    if (first == u16view::npos) return {};
    const auto last = text.find_last_not_of(kSpace);
    return text.substr(first, last - first + 1);
}

// A management server is given by IPv4 address or by host name.
bool IsValidServerAddress(u16view text) {
    return IsValidHostAddress(text) || IsValidDomainName(text);
}

// 4: net boot needs a logical ID and a reachable management server.
FieldError NetBootError(const SetupRequestForm& form) {
    if (Trimmed(form.logicalId).empty()) return {u"Missing Logical ID", FormField::LogicalId};
    const u16view url1 = Trimmed(form.qmxUrl1);
    if (url1.empty()) {
        // With DHCP the server may be announced by the network.
        if (!form.dhcp)
            return {u"Missing QMX URL 1: enter a valid IP address or FQDN.", FormField::QmxUrl1};
    } else if (!IsValidServerAddress(url1)) {
        return {u"Invalid QMX URL 1: enter a valid IP address or FQDN.", FormField::QmxUrl1};
    }
    const u16view url2 = Trimmed(form.qmxUrl2);
    if (!url2.empty() && !IsValidServerAddress(url2))
        return {u"Invalid QMX URL 2: enter a valid IP address or FQDN.", FormField::QmxUrl2};
    return {};
}

struct InterfaceFields {
    const u16& address;
    const u16& netmask;
    const u16& address6;
    const u16& prefix6;
    const char16_t* name;
    FormField ipv4;
    FormField ipv6;
};

// 8 and 9: one interface's IPv4 and IPv6 settings.
FieldError InterfaceError(const InterfaceFields& f) {
    if (!IsValidNetmask(f.netmask))
        return {FormatW(u"Invalid IPv4 Subnet mask configuration for %s interface", f.name),
                f.ipv4};
    if (!IsValidHostAddress(f.address, u16view(f.netmask)))
        return {FormatW(u"Invalid IPv4 configuration for %s interface", f.name), f.ipv4};
    if (!f.prefix6.empty() || !f.address6.empty()) {
        if (!IsValidIPv6PrefixLength(f.prefix6))
            return {FormatW(u"Invalid IPv6 Subnet mask configuration for %s interface", f.name),
                    f.ipv6};
        if (f.address6.empty())
            return {FormatW(u"Invalid IPv6 configuration for %s interface", f.name), f.ipv6};
    }
    return {};
}

// 11: the IPv6 gateway goes with IPv6 settings and only with them.
u16 Ipv6GatewayError(const SetupRecord& r) {
    const bool anyIpv6 = !r.m_lanPrefix6.empty() || !r.m_lanAddress6.empty() ||
                         !r.m_wanPrefix6.empty() || !r.m_wanAddress6.empty();
    if (anyIpv6 && r.m_gateway6.empty()) return u"Missing/Invalid IPv6 gateway configuration";
    if (!r.m_gateway6.empty() &&
        (r.m_lanPrefix6.empty() ||
         (r.m_lanAddress6.empty() && (r.m_wanPrefix6.empty() || r.m_wanAddress6.empty()))))
        return u"Invalid IPv6 Gateway configuration, Missing IPV6/SUBNET Configuration";
    return {};
}

// 12: branding texts within their limits and of allowed characters only.
u16 BrandingError(const SetupRecord& r, Presenter& boxes) {
    if (!r.m_logoFile.empty() && r.m_logoData.empty())
        return u"Branding Logo Picture file was actually not pointed on file system.\r"
               u"Go to Branding dialog for pointing to the file.";
    struct Text {
        const u16& value;
        std::size_t limit;
        const char16_t* label;
    };
    const Text texts[] = {{r.m_companyName, 33, u"Company Name"},
                          {r.m_productName, 33, u"Product Name"},
                          {r.m_tla, 300, u"TLA"}};
    for (const Text& t : texts) {
        if (t.value.size() > t.limit)
            return FormatW(
                u"%s must be limited to %d characters. Please go to Branding dialog and correct "
                u"the %s configuration.",
                t.label, static_cast<int>(t.limit), t.label);
        if (!CheckBrandingText(t.label, t.value, boxes))
            return FormatW(u"Please go to Branding dialog and correct the %s configuration.",
                           t.label);
    }
    return {};
}

bool IsDatabaseOnlyGatewayType(int hwType) {
    return hwType == 5 || hwType == 8 || hwType == 9 || hwType == 12 || hwType == 14;
}

}  // namespace

ValidationResult ValidateSetupRequest(SetupRecord& record, SetupRequestForm& form,
                                      SetupValidationServices& services) {
    // 1. The host-name edit may still hold a name its kill-focus handler has not stored.
    services.WriteLogLine(u"OnBnClickedOk(): start");
    services.WriteLogLine(u"forcing OnEnKillfocusEditName()");
    record.m_serverName = form.hostName;
    services.WriteLogLine(FormatW(u"node servername changed to %s", record.m_serverName));

    // 2, 3. The installation folder.
    if (!services.CheckPendriveSoftware()) {
        services.WriteLogLine(u"OnBnClickedOk(): missing files");
        return Reject(FormField::Form,
                      u"Missing important installation files. Please reinstall the application.",
                      kError, true);
    }
    if (!services.CheckInstallImage()) {
        services.WriteLogLine(u"OnBnClickedOk(): install/update image not found");
        return Reject(FormField::Form, u"Image file (image_zev-<version>.tar) not found.\n",
                      u"WARNING", true);
    }

    // 4. Net boot.
    if (form.netBoot && !form.preinstall) {
        if (FieldError e = NetBootError(form); !e.text.empty()) return Reject(std::move(e));
    }

    // 5. Configuration source.
    if (form.sourceDatabase) {
        record.m_configSource = ConfigFromDatabase;
        if (!record.m_dbFileLoaded) return Reject(FormField::Form, u"database file not found");
    } else if (form.sourceNodeFile) {
        record.m_configSource = ConfigFromNodeFile;
        if (!record.m_nodeFileLoaded) return Reject(FormField::Form, u"node.cfg file not found");
    } else if (form.sourceGenerate) {
        record.m_configSource = ConfigGenerateNodeFile;
    } else if (form.automated) {
        record.m_configSource = ConfigAutomated;
    } else {
        return Reject(FormField::Form, u"Please contact developer team this is a bug.");
    }

    // 6. Server name.
    if (record.m_serverName == u"unnamed" && !form.dhcp) {
        const int answer = services.Boxes().ShowMessage(
            u"Do you really want to continue and use \"unnamed\" as server name?",
            u"USB Stick Setup", kMbQuestionStyle, true);
        if (answer != kIdYes)
            return {ValidationOutcome::Declined, {}, {}, false, FormField::HostName};
    }
    if (record.m_serverName.empty())
        return Reject(FormField::HostName, u"Missing Server Name configuration", kError, true);
    if (record.m_serverName.size() > 63) return Reject(FormField::HostName, kServerNameTooLarge);
    if (!IsValidHostLabel(record.m_serverName))
        return Reject(FormField::HostName, kServerNameInvalid);

    // 7. Every request that gets here uses all three interfaces.
    record.m_lanDisabled = 0;
    record.m_wanDisabled = 0;
    record.m_adminDisabled = 0;

    // 8, 9. Interface settings; a preinstalled or DHCP appliance brings its own.
    if (!form.preinstall && !form.dhcp) {
        FieldError e =
            InterfaceError({record.m_lanAddress, record.m_lanNetmask, record.m_lanAddress6,
                            record.m_lanPrefix6, u"LAN", FormField::LanIpv4, FormField::LanIpv6});
        if (!e.text.empty()) return Reject(std::move(e));
        setSingleArmedDefault(record, form, services);
        e = InterfaceError({record.m_wanAddress, record.m_wanNetmask, record.m_wanAddress6,
                            record.m_wanPrefix6, u"WAN", FormField::WanIpv4, FormField::WanIpv6});
        if (!e.text.empty()) return Reject(std::move(e));
    }

    if (!form.dhcp) {
        // 10. Interface relations.
        FormField field = FormField::Form;
        if (u16 error = InterfaceRelationError(record, form.singleArmed, &field); !error.empty())
            return Reject(field, std::move(error));
        // 11. IPv6 gateway.
        if (u16 error = Ipv6GatewayError(record); !error.empty())
            return Reject(FormField::Ipv6Gateway, std::move(error));
    }

    // 12. Branding.
    if (u16 error = BrandingError(record, services.Boxes()); !error.empty())
        return Reject(FormField::Form, std::move(error));

    // 13. Media.
    if (record.m_isoMedia) {
        services.WriteLogLine(u"OnBnClickedOk(): Virtual Machine ISO");
        if (Trimmed(form.hardwareTypeText).empty()) {
            if (IsDatabaseOnlyGatewayType(record.m_hwType))
                return Reject(FormField::HardwareType,
                              u"Integrated gateway database file is not supported");
            return Reject(FormField::HardwareType, u"Missing or invalid Hardware type");
        }
    } else {
        if (form.mediaEntryCount == 1) return Reject(FormField::Form, u"Please insert a USB Stick");
        // An entry outside the drive table has no size and is refused like a small stick.
        if (services.SelectDrive(form.selectedMediaEntry) < kMinimumStickBytes)
            return Reject(FormField::Form,
                          u"Please select a USB Stick with at least 1G of storage space");
    }

    return {};
}

void ShowValidationResult(const ValidationResult& result, Presenter& boxes) {
    if (result.outcome != ValidationOutcome::Rejected) return;
    boxes.ShowMessage(result.message, result.caption, kMbWarningStyle, result.ownedByDialog);
}

}  // namespace flintmere
