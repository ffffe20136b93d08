#include "xml/CXmlDocument.h"

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "xml/XmlDocState.h"

namespace
{

struct ParserCtxtFree {
    void operator()(xmlParserCtxtPtr p) const { xmlFreeParserCtxt(p); }
};
struct XmlBufferFree {
    void operator()(xmlBufferPtr p) const { xmlBufferFree(p); }
};

// Never the network, and parse errors go to our log rather than to libxml2's own output.
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

int ReadStream(void* context, char* buffer, int len)
{
    auto* in = static_cast<std::istream*>(context);
    in->read(buffer, len);
    return in->bad() ? -1 : static_cast<int>(in->gcount());
}

using AttributeList = std::vector<std::pair<std::string, std::string>>;

// name="value" pairs separated by blanks, as in a start tag or an XML declaration; nullopt when malformed.
std::optional<AttributeList> ParseAttributeList(const std::string& text)
{
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    auto isNameChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
               c == '-' || c == '.';
    };
    AttributeList list;
    size_t i = 0;
    const size_t n = text.size();
    for (;;) {
        size_t blanks = i;
        while (i < n && isBlank(text[i]))
            ++i;
        if (i == n)
            return list;
        if (!list.empty() && i == blanks)
            return std::nullopt;  // pairs must be separated
        size_t nameStart = i;
        while (i < n && isNameChar(text[i]))
            ++i;
        std::string name = text.substr(nameStart, i - nameStart);
        while (i < n && isBlank(text[i]))
            ++i;
        if (name.empty() || i == n || text[i] != '=')
            return std::nullopt;
        ++i;
        while (i < n && isBlank(text[i]))
            ++i;
        if (i == n || (text[i] != '"' && text[i] != '\''))
            return std::nullopt;
        size_t close = text.find(text[i], i + 1);
        if (close == std::string::npos)
            return std::nullopt;
        list.emplace_back(std::move(name), text.substr(i + 1, close - i - 1));
        i = close + 1;
    }
}

bool IsVersionNumber(const std::string& v)
{
    return v.size() > 2 && v.starts_with("1.") && v.find_first_not_of("0123456789", 2) == std::string::npos;
}

bool IsEncodingName(const std::string& e)
{
    if (e.empty() || !std::isalpha(static_cast<unsigned char>(e[0])))
        return false;
    for (char c : e) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-')
            return false;
    }
    return true;
}

void ReplaceEncoding(xmlDocPtr doc, const char* encoding)
{
    if (doc->encoding && !(doc->dict && xmlDictOwns(doc->dict, doc->encoding)))
        xmlFree(const_cast<xmlChar*>(doc->encoding));
    doc->encoding = encoding ? xmlStrdup(BAD_CAST encoding) : nullptr;
}

// The declaration as written: the text is always UTF-8, whatever encoding the document was read or declared in.
std::string Declaration(xmlDocPtr doc)
{
    std::string decl = "<?xml version=\"";
    decl += doc->version ? reinterpret_cast<const char*>(doc->version) : "1.0";
    decl += "\"";
    if (doc->encoding)
        decl += " encoding=\"UTF-8\"";
    if (doc->standalone == 1)
        decl += " standalone=\"yes\"";
    else if (doc->standalone == 0)
        decl += " standalone=\"no\"";
    return decl + "?>\n";
}

// libxml2 marks a document without a declaration with standalone -1.
bool HasDeclaration(xmlDocPtr doc)
{
    return doc->standalone != -1;
}

std::optional<std::string> SerializeBody(xmlDocPtr doc)
{
    std::unique_ptr<xmlBuffer, XmlBufferFree> buffer(xmlBufferCreate());
    if (!buffer)
        return std::nullopt;
    // The declaration is written by the caller, so it is there once and tells the truth about the encoding.
    xmlSaveCtxtPtr save = xmlSaveToBuffer(buffer.get(), "UTF-8", XML_SAVE_NO_DECL);
    if (!save)
        return std::nullopt;
    long written = xmlSaveDoc(save, doc);
    if (xmlSaveClose(save) < 0 || written < 0)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                       static_cast<size_t>(xmlBufferLength(buffer.get())));
}

}  // namespace

CXmlDocument::CXmlDocument() = default;

CXmlDocument::~CXmlDocument()
{
    Close();
}

bool CXmlDocument::Create()
{
    Close();
    xmldoc::InitLibrary();
    xmlDocPtr doc = xmlNewDoc(BAD_CAST "1.0");
    if (!doc)
        return false;
    doc->standalone = -1;  // no declaration until one is added
    _pDoc = std::make_shared<xmldoc::XmlDocState>(doc);
    return true;
}

bool CXmlDocument::Parse(std::istream& in, const char* url, const char* caller)
{
    std::unique_ptr<xmlParserCtxt, ParserCtxtFree> ctxt(xmlNewParserCtxt());
    if (!ctxt)
        return false;
    xmlDocPtr doc = xmlCtxtReadIO(ctxt.get(), ReadStream, nullptr, &in, url, nullptr, kParseOptions);
    if (!doc) {
        xmlErrorPtr error = xmlCtxtGetLastError(ctxt.get());
        std::string message = error && error->message ? error->message : "unknown error";
        std::replace(message.begin(), message.end(), '\n', ' ');
        while (!message.empty() && message.back() == ' ')
            message.pop_back();
        xmldoc::LogXmlError("%s - not well-formed at line %d: %s", caller, error ? error->line : 0, message.c_str());
        return false;
    }
    _pDoc = std::make_shared<xmldoc::XmlDocState>(doc);
    return true;
}

bool CXmlDocument::LoadXml(const std::string& text)
{
    if (!Create())
        return false;
    std::istringstream in(text);
    return Parse(in, nullptr, "CXmlDocument::LoadXml");
}

bool CXmlDocument::Load(const std::string& path)
{
    if (!Create())
        return false;
    _szPath = path;
    // Opened as a plain file, never as a URL.
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        xmldoc::LogXmlError("CXmlDocument::Load - cannot open %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    return Parse(in, path.c_str(), "CXmlDocument::Load");
}

bool CXmlDocument::SetSelectionNamespaces(const std::string& text)
{
    if (!_pDoc)
        return false;
    auto list = ParseAttributeList(text);
    if (!list)
        return false;
    std::vector<std::pair<std::string, std::string>> namespaces;
    for (auto& [name, uri] : *list) {
        if (name == "xmlns")
            continue;  // a default namespace does not apply to XPath names
        if (!name.starts_with("xmlns:") || !xmldoc::IsValidName(name.substr(6)) || uri.empty())
            return false;
        namespaces.emplace_back(name.substr(6), std::move(uri));
    }
    _pDoc->_vNamespaces = std::move(namespaces);
    return true;
}

void CXmlDocument::Close()
{
    _szPath.clear();
    _pDoc.reset();
}

bool CXmlDocument::AddProcessingInstruction(const std::string& target, const std::string& data)
{
    if (!_pDoc || !xmldoc::IsValidXmlChars(data))
        return false;
    xmlDocPtr doc = _pDoc->_pDoc;
    if (target == "xml") {
        auto list = ParseAttributeList(data);
        if (!list || list->empty() || (*list)[0].first != "version" || !IsVersionNumber((*list)[0].second))
            return false;
        size_t i = 1;
        std::optional<std::string> encoding;
        int standalone = -2;  // declared, without standalone
        if (i < list->size() && (*list)[i].first == "encoding") {
            if (!IsEncodingName((*list)[i].second))
                return false;
            encoding = (*list)[i++].second;
        }
        if (i < list->size() && (*list)[i].first == "standalone") {
            const std::string& value = (*list)[i++].second;
            if (value != "yes" && value != "no")
                return false;
            standalone = value == "yes" ? 1 : 0;
        }
        if (i != list->size())
            return false;
        xmlFree(const_cast<xmlChar*>(doc->version));
        doc->version = xmlStrdup(BAD_CAST(*list)[0].second.c_str());
        ReplaceEncoding(doc, encoding ? "UTF-8" : nullptr);
        doc->standalone = standalone;
        return true;
    }
    if (!xmldoc::IsValidName(target) || xmlStrcasecmp(BAD_CAST target.c_str(), BAD_CAST "xml") == 0 ||
        data.find("?>") != std::string::npos)
        return false;
    xmlNodePtr pi = xmlNewDocPI(doc, BAD_CAST target.c_str(), BAD_CAST data.c_str());
    if (!pi || !xmlAddChild(reinterpret_cast<xmlNodePtr>(doc), pi)) {
        xmlFreeNode(pi);
        return false;
    }
    return true;
}

std::unique_ptr<CXmlNode> CXmlDocument::CreateRootNode(const std::string& name)
{
    if (!_pDoc)
        return std::make_unique<CXmlNode>();
    return CXmlNode(_pDoc, reinterpret_cast<xmlNodePtr>(_pDoc->_pDoc)).AddChildNode(name);
}

std::unique_ptr<CXmlNode> CXmlDocument::GetRootNode() const
{
    if (!_pDoc)
        return std::make_unique<CXmlNode>();
    return std::make_unique<CXmlNode>(_pDoc, xmlDocGetRootElement(_pDoc->_pDoc));
}

std::unique_ptr<CXmlNode> CXmlDocument::SelectSingleNode(const std::string& xpath) const
{
    return GetRootNode()->SelectSingleNode(xpath);
}

std::unique_ptr<CXmlNodeList> CXmlDocument::SelectNodes(const std::string& xpath) const
{
    return GetRootNode()->SelectNodes(xpath);
}

std::string CXmlDocument::GetXml() const
{
    if (!_pDoc)
        return {};
    auto body = SerializeBody(_pDoc->_pDoc);
    if (!body)
        return {};
    return HasDeclaration(_pDoc->_pDoc) ? Declaration(_pDoc->_pDoc) + *body : *body;
}

bool CXmlDocument::Save(const char* path, bool escapePercent)
{
    (void)escapePercent;  // a "%" in a file path is literal here
    std::string target = path ? path : _szPath;
    if (!_pDoc) {
        _szLastError = "no document";
        return false;
    }
    if (target.empty()) {
        _szLastError = "no path";
        return false;
    }
    auto body = SerializeBody(_pDoc->_pDoc);
    if (!body) {
        _szLastError = "cannot serialise the document";
        return false;
    }
    // A saved file always declares itself, so readers know it is UTF-8.
    std::string text = Declaration(_pDoc->_pDoc) + *body;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    if (out)
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (out)
        out.close();
    if (!out) {
        _szLastError = target + ": " + std::strerror(errno);
        xmldoc::LogXmlError("CXmlDocument::Save - %s", _szLastError.c_str());
        return false;
    }
    return true;
}
