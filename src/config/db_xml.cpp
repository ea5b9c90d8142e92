#include "config/db_xml.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string_view>

namespace flintmere::dbxml {
namespace {

// Only what is inside the buffer counts: no DTD, no external entity, no
// network. XML_PARSE_NOENT would substitute (and so load) external
// entities, XML_PARSE_HUGE would lift the limits against entity bombs.
constexpr int kParseOptions = XML_PARSE_NONET;

xmlParserInputPtr RefuseExternalResource(const char*, const char*, xmlParserCtxtPtr) {
    return nullptr;
}

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        // A second lock on top of the options: whatever path the parser
        // takes, no file or URL is ever opened for a document.
        xmlSetExternalEntityLoader(RefuseExternalResource);
    });
}

// Keeps the first error of a parse; libxml2 would otherwise print every
// message on standard error.
class ErrorCollector {
  public:
    void Add(int line, std::string_view message) {
        if (!failure_.reason.empty()) return;
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) {
            message.remove_suffix(1);
        }
        failure_.line = line;
        failure_.reason = message.empty() ? "unknown parse error" : std::string(message);
    }
    bool Empty() const { return failure_.reason.empty(); }
    const ParseFailure& Failure() const { return failure_; }

    static void FromParser(void* parserContext, xmlError* error) {
        auto* ctxt = static_cast<xmlParserCtxt*>(parserContext);
        if (ctxt && ctxt->_private) static_cast<ErrorCollector*>(ctxt->_private)->Take(error);
    }
    static void FromLibrary(void* collector, xmlError* error) {
        static_cast<ErrorCollector*>(collector)->Take(error);
    }
    static void Generic(void* collector, const char* format, ...) {
        char text[512];
        va_list ap;
        va_start(ap, format);
        std::vsnprintf(text, sizeof text, format, ap);
        va_end(ap);
        static_cast<ErrorCollector*>(collector)->Add(0, text);
    }

  private:
    void Take(const xmlError* error) {
        if (!error || error->level < XML_ERR_ERROR) return;  // warnings do not fail
        Add(error->line, error->message ? error->message : "");
    }
    ParseFailure failure_;
};

// Routes this thread's libxml2 messages into a collector for its lifetime;
// the library keeps these handlers per thread.
class ErrorRoute {
  public:
    explicit ErrorRoute(ErrorCollector& collector)
        : structured_(xmlStructuredError),
          structuredContext_(xmlStructuredErrorContext),
          generic_(xmlGenericError),
          genericContext_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(&collector, ErrorCollector::FromLibrary);
        xmlSetGenericErrorFunc(&collector, ErrorCollector::Generic);
    }
    ~ErrorRoute() {
        xmlSetStructuredErrorFunc(structuredContext_, structured_);
        xmlSetGenericErrorFunc(genericContext_, generic_);
    }
    ErrorRoute(const ErrorRoute&) = delete;
    ErrorRoute& operator=(const ErrorRoute&) = delete;

  private:
    xmlStructuredErrorFunc structured_;
    void* structuredContext_;
    xmlGenericErrorFunc generic_;
    void* genericContext_;
};

struct ParserContextFree {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};
using ParserContextPtr = std::unique_ptr<xmlParserCtxt, ParserContextFree>;

// The first reference to an entity that the document does not itself
// declare as internal text; such an entity is never loaded, so the
// document's content would be incomplete.
const xmlNode* UnresolvedEntityReference(xmlDoc* doc) {
    const xmlNode* root = reinterpret_cast<const xmlNode*>(doc);
    const xmlNode* cur = root->children;
    while (cur) {
        if (cur->type == XML_ENTITY_REF_NODE) {
            const xmlEntity* entity = xmlGetDocEntity(doc, cur->name);
            if (!entity || entity->etype != XML_INTERNAL_GENERAL_ENTITY) return cur;
        } else if (cur->type == XML_ELEMENT_NODE && cur->children) {
            cur = cur->children;
            continue;
        }
        while (cur != root && !cur->next) cur = cur->parent;
        if (cur == root) break;
        cur = cur->next;
    }
    return nullptr;
}

}  // namespace

DocPtr ParseDatabase(std::span<const std::uint8_t> data, ParseFailure& failure) {
    InitOnce();
    failure = {};
    const std::string mismatch = EncodingMismatch(data);
    if (!mismatch.empty()) {
        failure.line = 1;
        failure.reason = mismatch;
        return nullptr;
    }
    // An int length: larger buffers never get here (the loader limits them).
    if (data.size() > static_cast<std::size_t>(INT32_MAX)) {
        failure.reason = "file too large";
        return nullptr;
    }

    ErrorCollector errors;
    const ErrorRoute route(errors);
    const ParserContextPtr ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        failure.reason = "out of memory";
        return nullptr;
    }
    ctxt->_private = &errors;
    ctxt->sax->serror = ErrorCollector::FromParser;
    DocPtr doc(xmlCtxtReadMemory(ctxt.get(), reinterpret_cast<const char*>(data.data()),
                                 static_cast<int>(data.size()), nullptr, nullptr, kParseOptions));
    const bool wellFormed = doc && ctxt->wellFormed && ctxt->nsWellFormed;
    ctxt->_private = nullptr;
    if (!wellFormed) {
        failure = errors.Empty() ? ParseFailure{0, "not well-formed"} : errors.Failure();
        return nullptr;
    }
    if (const xmlNode* ref = UnresolvedEntityReference(doc.get())) {
        failure.line = xmlGetLineNo(ref) > 0 ? static_cast<int>(xmlGetLineNo(ref)) : 0;
        failure.reason = "Entity '" + std::string(reinterpret_cast<const char*>(ref->name)) +
                         "' is not text of the document itself; it is never loaded";
        return nullptr;
    }
    return doc;
}

XPathEvaluator::XPathEvaluator(xmlDoc* doc) : context_(xmlXPathNewContext(doc)) {}

xmlNode* XPathEvaluator::First(const char* path, bool& failed) const {
    if (!context_) {
        failed = true;
        return nullptr;
    }
    ErrorCollector errors;
    const ErrorRoute route(errors);
    const XPathObjectPtr result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(path), context_.get()));
    if (!result || result->type != XPATH_NODESET) {
        failed = true;
        return nullptr;
    }
    xmlNodeSet* nodes = result->nodesetval;
    if (!nodes || nodes->nodeNr == 0) return nullptr;
    xmlXPathNodeSetSort(nodes);  // first in document order
    return nodes->nodeTab[0];
}

}  // namespace flintmere::dbxml
