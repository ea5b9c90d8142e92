#include "config/node_cfg_parse.h"

#include <array>
#include <optional>

#include "config/address_checks.h"

namespace flintmere {
namespace {

enum class ValueKind { Single, Pair, Flag };

struct KeyRule {
    std::string_view key;
    ValueKind kind;
    u16 NodeCfgValues::*first = nullptr;
    u16 NodeCfgValues::*second = nullptr;
    Flag NodeCfgValues::*flag = nullptr;      // ValueKind::Flag
    Flag NodeCfgValues::*disabled = nullptr;  // interfaces whose address is checked
};

using V = NodeCfgValues;
constexpr ValueKind kOne = ValueKind::Single;
constexpr ValueKind kPair = ValueKind::Pair;
constexpr ValueKind kFlag = ValueKind::Flag;

const std::array<KeyRule, 24> kKeys = {{
    {"kestrel_label:", kOne, &V::label},
    {"kestrel_lan:", kPair, &V::lanAddress, &V::lanNetmask, nullptr, &V::lanDisabled},
    {"kestrel_wan:", kPair, &V::wanAddress, &V::wanNetmask, nullptr, &V::wanDisabled},
    {"kestrel_admin:", kPair, &V::adminAddress, &V::adminNetmask, nullptr, &V::adminDisabled},
    {"kestrel_lan6:", kPair, &V::lanAddress6, &V::lanPrefix6},
    {"kestrel_wan6:", kPair, &V::wanAddress6, &V::wanPrefix6},
    {"kestrel_gw:", kOne, &V::gateway},
    {"kestrel_gw6:", kOne, &V::gateway6},
    {"usb_stick_partitioned:", kFlag, nullptr, nullptr, &V::partitioned},
    {"gpt_partition:", kFlag, nullptr, nullptr, &V::gptPartition},
    {"uefi:", kFlag, nullptr, nullptr, &V::uefi},
    {"preinstall:", kFlag, nullptr, nullptr, &V::preinstall},
    {"autoinstall:", kFlag, nullptr, nullptr, &V::autoinstall},
    {"netboot:", kFlag, nullptr, nullptr, &V::netboot},
    {"dhcp:", kFlag, nullptr, nullptr, &V::dhcp},
    {"invert:", kFlag, nullptr, nullptr, &V::invert},
    {"singlearmed:", kFlag, nullptr, nullptr, &V::singleArmed},
    {"logicid:", kOne, &V::logicId},
    {"supplyserver1:", kOne, &V::supplyServer1},
    {"supplyserver2:", kOne, &V::supplyServer2},
    {"dns1:", kOne, &V::dns1},
    {"dns2:", kOne, &V::dns2},
    {"hw_platform:", kOne, &V::hwPlatform},
    {"vm_platform:", kOne, &V::vmPlatform},
}};

// The C locale's isspace, without depending on the process locale.
bool IsCSpace(unsigned c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

const KeyRule* FindKey(std::string_view token) {
    for (const KeyRule& rule : kKeys) {
        if (EqualsIgnoreCase(token, rule.key)) return &rule;
    }
    return nullptr;
}

// A value token that is really the next key (white space around it ignored).
bool LooksLikeKey(std::string_view token) {
    while (!token.empty() && IsCSpace(static_cast<unsigned char>(token.front()))) {
        token.remove_prefix(1);
    }
    while (!token.empty() && IsCSpace(static_cast<unsigned char>(token.back()))) {
        token.remove_suffix(1);
    }
    return FindKey(token) != nullptr;
}

// strtok over a view: the first token ends at space, CR and LF only; every
// later one at tab as well.
class Tokenizer {
  public:
    explicit Tokenizer(std::string_view text) : rest_(text) {}

    std::optional<std::string_view> Next() {
        std::string_view delims = first_ ? std::string_view(" \r\n") : std::string_view(" \t\r\n");
        first_ = false;
        std::size_t start = rest_.find_first_not_of(delims);
        if (start == std::string_view::npos) {
            rest_ = {};
            return std::nullopt;
        }
        rest_.remove_prefix(start);
        std::size_t end = rest_.find_first_of(delims);
        std::string_view token = rest_.substr(0, end);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return token;
    }

  private:
    std::string_view rest_;
    bool first_ = true;
};

template <typename Char>
bool DecimalPrefixIsNonZeroImpl(std::basic_string_view<Char> text) {
    std::size_t i = 0;
    while (i < text.size() && IsCSpace(static_cast<unsigned>(text[i]))) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (text[i] != '0') return true;
    }
    return false;
}

}  // namespace

bool IsNodeCfgKey(std::string_view token) {
    return LooksLikeKey(token);
}

std::vector<NodeCfgKeyShape> NodeCfgKeyShapes() {
    std::vector<NodeCfgKeyShape> shapes;
    for (const KeyRule& rule : kKeys) {
        const NodeCfgShape shape = rule.kind == ValueKind::Single ? NodeCfgShape::Single
                                   : rule.kind == ValueKind::Pair ? NodeCfgShape::Pair
                                                                  : NodeCfgShape::Flag;
        shapes.push_back({rule.key, shape});
    }
    return shapes;
}

bool DecimalPrefixIsNonZero(std::string_view text) {
    return DecimalPrefixIsNonZeroImpl(text);
}
bool DecimalPrefixIsNonZero(u16view text) {
    return DecimalPrefixIsNonZeroImpl(text);
}

NodeCfgValues ParseNodeCfg(std::string_view bytes) {
    NodeCfgValues values;
    // Like the C string it once was, the text ends at its first zero byte.
    bytes = bytes.substr(0, bytes.find('\0'));
    Tokenizer tokens(bytes);
    std::optional<std::string_view> current = tokens.Next();
    while (current) {
        const KeyRule* rule = FindKey(*current);
        if (!rule) {
            current = tokens.Next();
            continue;
        }
        std::optional<std::string_view> value = tokens.Next();
        if (!value || LooksLikeKey(*value)) {
            current = value;
            continue;
        }
        if (rule->kind == ValueKind::Flag) {
            values.*(rule->flag) = DecimalPrefixIsNonZero(*value) ? 1 : 0;
            current = tokens.Next();
            continue;
        }
        values.*(rule->first) = AnsiToUtf16(*value);
        if (rule->disabled && IsValidHostAddress(values.*(rule->first))) {
            values.*(rule->disabled) = 0;
        }
        current = tokens.Next();
        if (rule->kind == ValueKind::Pair && current) {
            // A second value that is the next key stays a key: a pair written
            // with an empty last value must not eat the following entry.
            if (LooksLikeKey(*current)) continue;
            values.*(rule->second) = AnsiToUtf16(*current);
            current = tokens.Next();
        }
    }
    return values;
}

}  // namespace flintmere
