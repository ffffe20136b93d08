#pragma once

// Internal to the XML classes: the libxml2 document shared by a CXmlDocument and every node or list taken
// from it, so a node stays valid after its document object is closed or destroyed (as a DOM reference would).

#include <libxml/tree.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace xmldoc
{

struct XmlDocState {
    explicit XmlDocState(xmlDocPtr doc) : _pDoc(doc) {}
    ~XmlDocState();
    XmlDocState(const XmlDocState&) = delete;
    XmlDocState& operator=(const XmlDocState&) = delete;

    xmlDocPtr _pDoc;
    // Prefix and URI pairs that XPath queries on this document may use.
    std::vector<std::pair<std::string, std::string>> _vNamespaces;
    // Subtrees unlinked when an element's content is replaced; a node wrapper may still point into them.
    std::vector<xmlNodePtr> _vDetached;
};

using XmlDocRef = std::shared_ptr<XmlDocState>;

// libxml2 is initialised once per process, before the first document.
void InitLibrary();

// Stand-in for the log manager until it exists: one line on stderr.
void LogXmlError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Nodes matched by an XPath expression relative to the context node, in document order; nullopt when the
// expression is invalid or does not give a node set. Namespace nodes are left out (they are not tree nodes).
std::optional<std::vector<xmlNodePtr>> SelectXPath(const XmlDocState& doc, xmlNodePtr context, const std::string& xpath,
                                                   const char* caller);

// A name usable for an element, an attribute or a processing-instruction target (no prefix).
bool IsValidName(const std::string& name);

// Text that is valid UTF-8 made only of characters that XML 1.0 allows, so every saved document stays well-formed.
bool IsValidXmlChars(const std::string& text);

}  // namespace xmldoc
