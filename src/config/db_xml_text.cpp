// Texts and numbers of database nodes.
#include <limits>
#include <string>
#include <vector>

#include "config/db_xml.h"

namespace flintmere::dbxml {
namespace {

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

class TextCollector {
  public:
    void AddText(const xmlChar* content) {
        if (!content) return;
        for (const char* p = reinterpret_cast<const char*>(content); *p; ++p) {
            if (IsXmlSpace(*p)) {
                pendingSpace_ = true;
            } else {
                Flush();
                out_ += *p;
            }
        }
    }
    void AddCData(const xmlChar* content) {
        Flush();
        if (content) out_ += reinterpret_cast<const char*>(content);
    }
    // A trailing space is dropped: the ends are trimmed.
    std::string Take() { return std::move(out_); }

  private:
    void Flush() {
        if (pendingSpace_ && !out_.empty()) out_ += ' ';
        pendingSpace_ = false;
    }
    std::string out_;
    bool pendingSpace_ = false;
};

// The parsed content of an entity the document declares as internal text.
const xmlNode* EntityContent(const xmlNode* reference) {
    const xmlNode* decl = reference->children;
    if (!decl || decl->type != XML_ENTITY_DECL) return nullptr;
    const auto* entity = reinterpret_cast<const xmlEntity*>(decl);
    return entity->etype == XML_INTERNAL_GENERAL_ENTITY ? entity->children : nullptr;
}

bool CountsAsChild(const xmlNode* node) {
    switch (node->type) {
        case XML_ELEMENT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_ENTITY_REF_NODE:
            return true;
        case XML_TEXT_NODE:
            for (const xmlChar* p = node->content; p && *p; ++p) {
                if (!IsXmlSpace(static_cast<char>(*p))) return true;
            }
            return false;
        default:
            return false;
    }
}

}  // namespace

u16 NodeText(const xmlNode* node) {
    TextCollector text;
    // Siblings still to visit, innermost last: documents may nest deeply, so
    // no recursion. The node itself is visited without its siblings.
    std::vector<const xmlNode*> pending;
    auto visit = [&](const xmlNode* cur) {
        switch (cur->type) {
            case XML_TEXT_NODE:
                text.AddText(cur->content);
                break;
            case XML_CDATA_SECTION_NODE:
                text.AddCData(cur->content);
                break;
            case XML_ELEMENT_NODE:
                if (cur->children) pending.push_back(cur->children);
                break;
            case XML_ENTITY_REF_NODE:
                if (const xmlNode* content = EntityContent(cur)) pending.push_back(content);
                break;
            default:
                break;
        }
    };
    if (node) visit(node);
    while (!pending.empty()) {
        const xmlNode* cur = pending.back();
        pending.pop_back();
        if (cur->next) pending.push_back(cur->next);
        visit(cur);
    }
    return Utf8ToUtf16(text.Take());
}

const xmlNode* FirstChild(const xmlNode* node) {
    for (const xmlNode* c = node ? node->children : nullptr; c; c = c->next) {
        if (CountsAsChild(c)) return c;
    }
    return nullptr;
}

const xmlNode* LastChild(const xmlNode* node) {
    for (const xmlNode* c = node ? node->last : nullptr; c; c = c->prev) {
        if (CountsAsChild(c)) return c;
    }
    return nullptr;
}

std::int32_t DecimalValue(u16view text) {
    std::size_t i = 0;
    auto isCSpace = [](char16_t c) { return c == u' ' || (c >= u'\t' && c <= u'\r'); };
    while (i < text.size() && isCSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::int64_t limit = negative ? kMax + 1 : kMax;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > limit) value = limit;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

u16 BareLogoName(u16view name) {
    const std::size_t cut = name.find_last_of(u"/\\");
    u16 bare(cut == u16view::npos ? name : name.substr(cut + 1));
    if (bare == u"." || bare == u"..") bare.clear();
    return bare;
}

}  // namespace flintmere::dbxml
