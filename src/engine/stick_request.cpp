#include "engine/stick_request.h"

#include <algorithm>
#include <charconv>

namespace flintmere {
namespace {

struct TextField {
    const char* key;
    u16 SetupRecord::*member;
};
struct NumberField {
    const char* key;
    std::int32_t SetupRecord::*member;
};

// Every value of the record that the stick sequence reads.
constexpr TextField kTextFields[] = {
    {"wanAddress", &SetupRecord::m_wanAddress},
    {"wanNetmask", &SetupRecord::m_wanNetmask},
    {"lanAddress", &SetupRecord::m_lanAddress},
    {"lanNetmask", &SetupRecord::m_lanNetmask},
    {"adminAddress", &SetupRecord::m_adminAddress},
    {"adminNetmask", &SetupRecord::m_adminNetmask},
    {"gateway", &SetupRecord::m_gateway},
    {"wanAddress6", &SetupRecord::m_wanAddress6},
    {"wanPrefix6", &SetupRecord::m_wanPrefix6},
    {"lanAddress6", &SetupRecord::m_lanAddress6},
    {"lanPrefix6", &SetupRecord::m_lanPrefix6},
    {"gateway6", &SetupRecord::m_gateway6},
    {"serverName", &SetupRecord::m_serverName},
    {"logicId", &SetupRecord::m_logicId},
    {"dns1", &SetupRecord::m_dns1},
    {"dns2", &SetupRecord::m_dns2},
    {"supplyServer1", &SetupRecord::m_supplyServer1},
    {"supplyServer2", &SetupRecord::m_supplyServer2},
    {"hwPlatformText", &SetupRecord::m_hwPlatformText},
    {"vmPlatformText", &SetupRecord::m_vmPlatformText},
    {"companyName", &SetupRecord::m_companyName},
    {"productName", &SetupRecord::m_productName},
    {"tla", &SetupRecord::m_tla},
    {"logoFile", &SetupRecord::m_logoFile},
};
constexpr NumberField kNumberFields[] = {
    {"nodeFileLoaded", &SetupRecord::m_nodeFileLoaded},
    {"dbFileLoaded", &SetupRecord::m_dbFileLoaded},
    {"wanDisabled", &SetupRecord::m_wanDisabled},
    {"lanDisabled", &SetupRecord::m_lanDisabled},
    {"adminDisabled", &SetupRecord::m_adminDisabled},
    {"partitioned", &SetupRecord::m_partitioned},
    {"gptPartition", &SetupRecord::m_gptPartition},
    {"legacyBios", &SetupRecord::m_legacyBios},
    {"configSource", &SetupRecord::m_configSource},
    {"preinstall", &SetupRecord::m_preinstall},
    {"autoinstall", &SetupRecord::m_autoinstall},
    {"netboot", &SetupRecord::m_netboot},
    {"dhcp", &SetupRecord::m_dhcp},
    {"uefi", &SetupRecord::m_uefi},
    {"invert", &SetupRecord::m_invert},
    {"singleArmed", &SetupRecord::m_singleArmed},
    {"hwType", &SetupRecord::m_hwType},
    {"isoMedia", &SetupRecord::m_isoMedia},
};

constexpr const char* kPlainFields[] = {"installFolder", "logoPath", "diskIdentity", "diskSize",
                                        "database"};

std::string Set(std::string_view key, std::string_view value) {
    return FormatLine("set", {std::string(key), std::string(value)});
}

template <typename T>
bool ParseNumber(const std::string& text, T& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out);
    return ec == std::errc() && ptr == end;
}

}  // namespace

std::string FormatStickRequest(const StickRequest& request) {
    std::string out = FormatLine("request", {std::to_string(kStickProtocolVersion)});
    for (const TextField& f : kTextFields) out += Set(f.key, Utf16ToUtf8(request.record.*f.member));
    for (const NumberField& f : kNumberFields) {
        out += Set(f.key, std::to_string(request.record.*f.member));
    }
    const std::vector<std::uint8_t>& db = request.record.m_dbFileData;
    out += Set("database", std::string_view(reinterpret_cast<const char*>(db.data()), db.size()));
    out += Set("installFolder", request.installFolder);
    out += Set("logoPath", request.logoPath);
    out += Set("diskIdentity", request.diskIdentity);
    out += Set("diskSize", std::to_string(request.diskSize));
    out += FormatLine("end");
    return out;
}

StickRequestParser::Step StickRequestParser::Fail(std::string why) {
    error_ = std::move(why);
    return Step::Failed;
}

StickRequestParser::Step StickRequestParser::Add(std::string_view line) {
    bytes_ += line.size() + 1;
    if (bytes_ > kStickRequestMaxBytes) return Fail("the request is larger than 72 MiB");
    const std::optional<ProtocolLine> parsed = ParseLine(line);
    if (!parsed) return Fail("malformed request line");
    if (!started_) {
        if (parsed->verb != "request" || parsed->fields.size() != 1) {
            return Fail("the request does not start with its version");
        }
        if (parsed->fields[0] != std::to_string(kStickProtocolVersion)) {
            return Fail("unknown request version " + parsed->fields[0]);
        }
        started_ = true;
        return Step::More;
    }
    if (parsed->verb == "end") {
        if (!parsed->fields.empty()) return Fail("malformed request end");
        for (const TextField& f : kTextFields) {
            if (std::find(seen_.begin(), seen_.end(), f.key) == seen_.end()) {
                return Fail(std::string("the request lacks ") + f.key);
            }
        }
        for (const NumberField& f : kNumberFields) {
            if (std::find(seen_.begin(), seen_.end(), f.key) == seen_.end()) {
                return Fail(std::string("the request lacks ") + f.key);
            }
        }
        for (const char* key : kPlainFields) {
            if (std::find(seen_.begin(), seen_.end(), key) == seen_.end()) {
                return Fail(std::string("the request lacks ") + key);
            }
        }
        if (request_.installFolder.empty() || request_.installFolder[0] != '/') {
            return Fail("the installation folder is not an absolute path");
        }
        if (!request_.logoPath.empty() && request_.logoPath[0] != '/') {
            return Fail("the logo path is not an absolute path");
        }
        error_.clear();
        return Step::Done;
    }
    if (parsed->verb != "set" || parsed->fields.size() != 2) {
        return Fail("unexpected request line " + parsed->verb);
    }
    const std::string& key = parsed->fields[0];
    const std::string& value = parsed->fields[1];
    if (std::find(seen_.begin(), seen_.end(), key) != seen_.end()) {
        return Fail("the request sets " + key + " twice");
    }
    seen_.push_back(key);
    SetupRecord& record = request_.record;
    for (const TextField& f : kTextFields) {
        if (key != f.key) continue;
        if (!IsValidUtf8(value)) return Fail(key + " is not UTF-8 text");
        record.*f.member = Utf8ToUtf16(value);
        return Step::More;
    }
    for (const NumberField& f : kNumberFields) {
        if (key != f.key) continue;
        if (!ParseNumber(value, record.*f.member)) return Fail(key + " is not a number");
        return Step::More;
    }
    const bool hasNul = value.find('\0') != std::string::npos;
    if (key == "database") {
        record.m_dbFileData.assign(value.begin(), value.end());
    } else if (key == "installFolder") {
        if (hasNul) return Fail("the installation folder holds a NUL byte");
        request_.installFolder = value;
    } else if (key == "logoPath") {
        if (hasNul) return Fail("the logo path holds a NUL byte");
        request_.logoPath = value;
    } else if (key == "diskIdentity") {
        if (hasNul || value.empty()) return Fail("the disk identity is empty");
        request_.diskIdentity = value;
    } else if (key == "diskSize") {
        if (!ParseNumber(value, request_.diskSize)) return Fail("diskSize is not a number");
    } else {
        return Fail("unknown request value " + key);
    }
    return Step::More;
}

}  // namespace flintmere
