#include "xml/XmlDocState.h"

#include <libxml/chvalid.h>
#include <libxml/parser.h>
#include <libxml/xmlstring.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "common/CLogManager.h"

namespace xmldoc
{

namespace
{

struct XPathContextFree {
    void operator()(xmlXPathContextPtr p) const { xmlXPathFreeContext(p); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObjectPtr p) const { xmlXPathFreeObject(p); }
};

// XPath errors would otherwise go to libxml2's generic handler; keep them in our log instead.
void OnXPathError(void* caller, xmlErrorPtr error)
{
    if (!error)
        return;
    LogXmlError("%s - XPath error %d at offset %d of '%s'", static_cast<const char*>(caller), error->code, error->int1,
                error->str1 ? error->str1 : "");
}

}  // namespace

XmlDocState::~XmlDocState()
{
    // Detached subtrees use the document's dictionary, so they go first.
    for (xmlNodePtr node : _vDetached)
        xmlFreeNodeList(node);
    xmlFreeDoc(_pDoc);
}

void InitLibrary()
{
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

void LogXmlError(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    theLogManager.LogV(fmt, args);
    va_end(args);
}

std::optional<std::vector<xmlNodePtr>> SelectXPath(const XmlDocState& doc, xmlNodePtr context, const std::string& xpath,
                                                   const char* caller)
{
    std::unique_ptr<xmlXPathContext, XPathContextFree> ctx(xmlXPathNewContext(doc._pDoc));
    if (!ctx)
        return std::nullopt;
    ctx->error = OnXPathError;
    ctx->userData = const_cast<char*>(caller);
    ctx->node = context;
    for (const auto& [prefix, uri] : doc._vNamespaces) {
        if (xmlXPathRegisterNs(ctx.get(), BAD_CAST prefix.c_str(), BAD_CAST uri.c_str()) != 0)
            return std::nullopt;
    }
    std::unique_ptr<xmlXPathObject, XPathObjectFree> result(xmlXPathEvalExpression(BAD_CAST xpath.c_str(), ctx.get()));
    if (!result || result->type != XPATH_NODESET) {
        if (result)
            LogXmlError("%s - XPath '%s' does not select nodes", caller, xpath.c_str());
        return std::nullopt;
    }
    std::vector<xmlNodePtr> nodes;
    if (xmlNodeSetPtr set = result->nodesetval) {
        for (int i = 0; i < set->nodeNr; ++i) {
            if (set->nodeTab[i]->type != XML_NAMESPACE_DECL)
                nodes.push_back(set->nodeTab[i]);
        }
    }
    return nodes;
}

bool IsValidName(const std::string& name)
{
    return !name.empty() && name.find('\0') == std::string::npos && xmlValidateNCName(BAD_CAST name.c_str(), 0) == 0;
}

bool IsValidXmlChars(const std::string& text)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        int len = static_cast<int>(end - p > 4 ? 4 : end - p);
        int c = xmlGetUTF8Char(p, &len);
        if (c < 0 || !xmlIsCharQ(c))
            return false;
        p += len;
    }
    return true;
}

}  // namespace xmldoc
