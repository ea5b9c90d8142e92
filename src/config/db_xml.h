// The configuration database as a libxml2 document: a strict parse that
// never reaches outside the buffer, location paths evaluated as XPath 1.0,
// and node texts as the appliance's own tools read them.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/text.h"

namespace flintmere::dbxml {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct XPathContextFree {
    void operator()(xmlXPathContext* context) const { xmlXPathFreeContext(context); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObject* object) const { xmlXPathFreeObject(object); }
};
using DocPtr = std::unique_ptr<xmlDoc, DocFree>;
using XPathContextPtr = std::unique_ptr<xmlXPathContext, XPathContextFree>;
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, XPathObjectFree>;

// Why a parse failed: the 1-based line and the parser's reason (UTF-8).
struct ParseFailure {
    int line = 0;
    std::string reason;
};

// Parses a database held in memory. Anything not well-formed (namespaces
// included) fails, as does a file whose byte order mark or 16-bit units
// contradict its declaration, and any reference to an entity that is
// not declared inside the document: external entities and DTDs are never
// loaded, the network is never touched, and libxml2's limits against entity
// expansion stay in force. The parser's messages never reach the terminal.
DocPtr ParseDatabase(std::span<const std::uint8_t> data, ParseFailure& failure);

// Evaluates location paths against one document.
class XPathEvaluator {
  public:
    explicit XPathEvaluator(xmlDoc* doc);
    // The first node in document order that `path` selects, or null when it
    // selects none. `failed` becomes true when the evaluation itself fails.
    xmlNode* First(const char* path, bool& failed) const;

  private:
    XPathContextPtr context_;
};

// The encoding name the XML declaration gives ("" for none), read in the
// units the first bytes show: 8-bit, or 16-bit of either byte order, after
// any byte order mark.
std::string DeclaredEncoding(std::span<const std::uint8_t> data);

// Why the file's byte order mark or 16-bit units and its declaration
// contradict each other, or "" when they agree. 16-bit text without a byte
// order mark must declare a 16-bit encoding.
std::string EncodingMismatch(std::span<const std::uint8_t> data);

// Text content of a node: the text and CDATA of the node and all its
// descendants in document order, through internal entities. Runs of white
// space in ordinary text become one space and the ends are trimmed; CDATA
// is taken as it stands.
u16 NodeText(const xmlNode* node);

// First and last child that carry content: comments, processing
// instructions and white-space-only text do not count.
const xmlNode* FirstChild(const xmlNode* node);
const xmlNode* LastChild(const xmlNode* node);

// Decimal value like strtol with a 32-bit long: leading white space, optional
// sign, digits up to the first non-digit; no digits gives 0; saturates.
std::int32_t DecimalValue(u16view text);

// The name a database gives for the logo, reduced to a bare file name: the
// part after the last '/' or '\', and nothing at all for "." or "..".
u16 BareLogoName(u16view name);

}  // namespace flintmere::dbxml
