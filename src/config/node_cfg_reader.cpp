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

bool ConfigModel::OpenNodeFile(const u16& path) {
    WriteLogW(u"OpenNodeFile(): open %s", path);
    ResetConfiguration(true);

    std::vector<std::uint8_t> data;
    switch (ReadRegularFile(ToPath(path), data)) {
        case ReadResult::Ok:
            break;
        case ReadResult::CannotOpen:
            DisplayMessage(FormatW(u"Can't open file %s!", path));
            return false;
        case ReadResult::TooLarge:
            // Treated like a buffer that could not be had: the old bytes are gone.
            m_nodeFileData.clear();
            m_nodeFileData.shrink_to_fit();
            DisplayMessage(FormatW(u"File %s is not compatible!", path));
            return false;
    }
    return LoadNodeFileData(path, std::move(data));
}

bool ConfigModel::LoadNodeFileData(const u16& path, std::vector<std::uint8_t> data) {
    m_nodeFileData = std::move(data);
    std::string_view text(reinterpret_cast<const char*>(m_nodeFileData.data()),
                          m_nodeFileData.size());
    NodeCfgValues v = ParseNodeCfg(text);

    if (v.label.empty() || v.lanAddress.empty()) {
        DisplayMessage(FormatW(u"File %s is not compatible!", path));
        return false;
    }

    m_serverName = v.label;
    m_lanAddress = v.lanAddress;
    m_lanNetmask = v.lanNetmask;
    m_lanDisabled = v.lanDisabled;
    m_wanAddress = v.wanAddress;
    m_wanNetmask = v.wanNetmask;
    m_wanDisabled = v.wanDisabled;
    m_adminAddress = v.adminAddress;
    m_adminNetmask = v.adminNetmask;
    m_adminDisabled = v.adminDisabled;
    // The writer's placeholders for absent IPv6 settings are a lone "0".
    if (v.lanAddress6.size() > 1) m_lanAddress6 = v.lanAddress6;
    if (DecimalPrefixIsNonZero(v.lanPrefix6)) m_lanPrefix6 = v.lanPrefix6;
    if (v.wanAddress6.size() > 1) m_wanAddress6 = v.wanAddress6;
    if (DecimalPrefixIsNonZero(v.wanPrefix6)) m_wanPrefix6 = v.wanPrefix6;
    m_gateway = v.gateway;
    if (v.gateway6.size() > 1) m_gateway6 = v.gateway6;
    m_partitioned = v.partitioned;
    m_gptPartition = v.partitioned ? v.gptPartition : 0;
    m_uefi = v.uefi;
    m_preinstall = v.preinstall;
    m_autoinstall = v.autoinstall;
    m_netboot = v.netboot;
    m_dhcp = v.dhcp;
    m_invert = v.invert;
    m_singleArmed = v.singleArmed;
    m_logicId = v.logicId;
    m_supplyServer1 = v.supplyServer1;
    m_supplyServer2 = v.supplyServer2;
    m_dns1 = v.dns1;
    m_dns2 = v.dns2;
    m_hwPlatformText = v.hwPlatform;
    m_vmPlatformText = v.vmPlatform;
    return true;
}

}  // namespace flintmere
