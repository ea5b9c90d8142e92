#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "config/config_model.h"
#include "config/node_cfg_parse.h"
#include "platform/unique_fd.h"

namespace flintmere {
namespace {

// A node.cfg is well under a kilobyte; anything this large is not one, and
// reading it whole would only exhaust memory.
constexpr std::size_t kMaxNodeFileSize = 16u << 20;

enum class ReadResult { Ok, CannotOpen, TooLarge };

ReadResult ReadRegularFile(const std::string& path, std::vector<std::uint8_t>& out) {
    // O_NONBLOCK keeps a FIFO picked by mistake from hanging the dialog.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.Valid()) return ReadResult::CannotOpen;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::CannotOpen;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxNodeFileSize) return ReadResult::TooLarge;

    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t chunk[64 * 1024];
    for (;;) {
        ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return ReadResult::CannotOpen;
        if (n == 0) break;
        // The file may grow while it is read; the limit holds all the same.
        if (data.size() + static_cast<std::size_t>(n) > kMaxNodeFileSize)
            return ReadResult::TooLarge;
        data.insert(data.end(), chunk, chunk + n);
    }
    out = std::move(data);
    return ReadResult::Ok;
}

}  // namespace

bool ConfigModel::OpenNodeFile(SetupRecord& record, const u16& path) {
    services_.WriteLogW(u"OpenNodeFile(): open %s", path);
    record.ResetConfiguration(true);

    std::vector<std::uint8_t> data;
    switch (ReadRegularFile(ToPath(path), data)) {
        case ReadResult::Ok:
            break;
        case ReadResult::CannotOpen:
            services_.DisplayMessage(FormatW(u"Can't open file %s!", path));
            return false;
        case ReadResult::TooLarge:
            // Treated like a buffer that could not be had: the old bytes are gone.
            record.m_nodeFileData.clear();
            record.m_nodeFileData.shrink_to_fit();
            services_.DisplayMessage(FormatW(u"File %s is not compatible!", path));
            return false;
    }
    return LoadNodeFileData(record, path, std::move(data));
}

bool ConfigModel::LoadNodeFileData(SetupRecord& record, const u16& path,
                                   std::vector<std::uint8_t> data) {
    record.m_nodeFileData = std::move(data);
    std::string_view text(reinterpret_cast<const char*>(record.m_nodeFileData.data()),
                          record.m_nodeFileData.size());
    NodeCfgValues v = ParseNodeCfg(text);

    if (v.label.empty() || v.lanAddress.empty()) {
        services_.DisplayMessage(FormatW(u"File %s is not compatible!", path));
        return false;
    }

    record.m_serverName = v.label;
    record.m_lanAddress = v.lanAddress;
    record.m_lanNetmask = v.lanNetmask;
    record.m_lanDisabled = v.lanDisabled;
    record.m_wanAddress = v.wanAddress;
    record.m_wanNetmask = v.wanNetmask;
    record.m_wanDisabled = v.wanDisabled;
    record.m_adminAddress = v.adminAddress;
    record.m_adminNetmask = v.adminNetmask;
    record.m_adminDisabled = v.adminDisabled;
    // The writer's placeholders for absent IPv6 settings are a lone "0".
    if (v.lanAddress6.size() > 1) record.m_lanAddress6 = v.lanAddress6;
    if (DecimalPrefixIsNonZero(v.lanPrefix6)) record.m_lanPrefix6 = v.lanPrefix6;
    if (v.wanAddress6.size() > 1) record.m_wanAddress6 = v.wanAddress6;
    if (DecimalPrefixIsNonZero(v.wanPrefix6)) record.m_wanPrefix6 = v.wanPrefix6;
    record.m_gateway = v.gateway;
    if (v.gateway6.size() > 1) record.m_gateway6 = v.gateway6;
    record.m_partitioned = v.partitioned;
    record.m_gptPartition = v.partitioned ? v.gptPartition : 0;
    record.m_uefi = v.uefi;
    record.m_preinstall = v.preinstall;
    record.m_autoinstall = v.autoinstall;
    record.m_netboot = v.netboot;
    record.m_dhcp = v.dhcp;
    record.m_invert = v.invert;
    record.m_singleArmed = v.singleArmed;
    record.m_logicId = v.logicId;
    record.m_supplyServer1 = v.supplyServer1;
    record.m_supplyServer2 = v.supplyServer2;
    record.m_dns1 = v.dns1;
    record.m_dns2 = v.dns2;
    record.m_hwPlatformText = v.hwPlatform;
    record.m_vmPlatformText = v.vmPlatform;
    return true;
}

}  // namespace flintmere
