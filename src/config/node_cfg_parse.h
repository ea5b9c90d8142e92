// Cutting the bytes of a node.cfg into the values the reader knows.
#pragma once

#include <string_view>
#include <vector>

#include "config/setup_record.h"
#include "platform/text.h"

namespace flintmere {

// What a node.cfg holds, before the reader's commit rules are applied.
// Texts are as read (converted from Windows-1252); keys that do not occur
// leave the start values below.
struct NodeCfgValues {
    u16 label;
    u16 lanAddress, lanNetmask;
    u16 wanAddress, wanNetmask;
    u16 adminAddress, adminNetmask;
    u16 lanAddress6, lanPrefix6;
    u16 wanAddress6, wanPrefix6;
    u16 gateway, gateway6;
    u16 logicId, supplyServer1, supplyServer2, dns1, dns2;
    u16 hwPlatform, vmPlatform;
    // 0 once some address of the interface's key passed the host address check.
    Flag lanDisabled = 1, wanDisabled = 1, adminDisabled = 1;
    Flag partitioned = 0, gptPartition = 0, uefi = 0, preinstall = 0, autoinstall = 0;
    Flag netboot = 0, dhcp = 0, invert = 0, singleArmed = 0;
};

// Tokens end at space, CR and LF (and tab after the first token); the file
// ends at its first zero byte. A key's value that is itself a key is not
// taken, so a key without value does not swallow the next entry.
NodeCfgValues ParseNodeCfg(std::string_view bytes);

// True when `token`, white space around it ignored, is one of the keys the
// reader knows (letter case ignored): a value like that is read as the key.
bool IsNodeCfgKey(std::string_view token);

// How many value tokens a key takes: one, two (address and netmask or
// prefix), or one flag read as "not zero".
enum class NodeCfgShape { Single, Pair, Flag };
struct NodeCfgKeyShape {
    std::string_view key;  // with its colon: "kestrel_label:"
    NodeCfgShape shape;
};
// Every key the reader knows, in its order.
std::vector<NodeCfgKeyShape> NodeCfgKeyShapes();

// The C library's strtol with base 10 reduced to "is it not zero": leading
// white space and a sign are allowed, digits end at the first other character.
bool DecimalPrefixIsNonZero(std::string_view text);
bool DecimalPrefixIsNonZero(u16view text);

}  // namespace flintmere
