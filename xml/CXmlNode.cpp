#include "xml/CXmlNode.h"

#include <libxml/tree.h>

#include <cctype>
#include <climits>

#include "xml/CXmlNodeList.h"
#include "xml/XmlDocState.h"

namespace
{

struct XmlCharFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};

std::string TakeXmlString(xmlChar* text)
{
    std::unique_ptr<xmlChar, XmlCharFree> holder(text);
    return text ? std::string(reinterpret_cast<const char*>(text)) : std::string();
}

// Leading decimal digits after optional blanks and sign, as atoi reads them, but saturated instead of overflowing.
int ParseLeadingInt(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > int64_t{INT_MAX} + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

CXmlNode::CXmlNode(std::shared_ptr<xmldoc::XmlDocState> doc, _xmlNode* node) : _pDoc(std::move(doc)), _pNode(node)
{
    if (!_pDoc)
        _pNode = nullptr;
}

CXmlNode::~CXmlNode() = default;

xmlNodePtr CXmlNode::FirstTextChild() const
{
    for (xmlNodePtr child = _pNode->children; child; child = child->next) {
        if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
            return child;
    }
    return nullptr;
}

// The value of a node that is not an element: an attribute, a text or a CDATA section.
bool CXmlNode::ReplaceValue(const std::string& text)
{
    switch (_pNode->type) {
        case XML_ATTRIBUTE_NODE: {
            auto* attr = reinterpret_cast<xmlAttrPtr>(_pNode);
            return attr->parent && xmlSetNsProp(attr->parent, attr->ns, attr->name, BAD_CAST text.c_str());
        }
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
            xmlNodeSetContent(_pNode, BAD_CAST text.c_str());
            return true;
        default:
            return false;
    }
}

bool CXmlNode::PutText(const std::string& text)
{
    if (IsNull() || !xmldoc::IsValidXmlChars(text))
        return false;
    if (_pNode->type != XML_ELEMENT_NODE)
        return ReplaceValue(text);
    // The old children are kept aside, not freed: another wrapper may still point at one of them.
    while (xmlNodePtr child = _pNode->children) {
        xmlUnlinkNode(child);
        _pDoc->_vDetached.push_back(child);
    }
    if (text.empty())
        return true;
    xmlNodePtr textNode = xmlNewDocText(_pNode->doc, BAD_CAST text.c_str());
    return textNode && xmlAddChild(_pNode, textNode);
}

bool CXmlNode::SetText(const std::string& text)
{
    if (IsNull() || !xmldoc::IsValidXmlChars(text))
        return false;
    if (_pNode->type != XML_ELEMENT_NODE)
        return ReplaceValue(text);
    if (xmlNodePtr textNode = FirstTextChild()) {
        xmlNodeSetContent(textNode, BAD_CAST text.c_str());
        return true;
    }
    xmlNodePtr textNode = xmlNewDocText(_pNode->doc, BAD_CAST text.c_str());
    return textNode && xmlAddChild(_pNode, textNode);
}

bool CXmlNode::SetTextString(const char* text)
{
    return text && SetText(text);
}

bool CXmlNode::SetTextInt(int value)
{
    return SetText(std::to_string(value));
}

bool CXmlNode::SetTextLong(int32_t value)
{
    return SetText(std::to_string(value));
}

bool CXmlNode::SetTextInt64(int64_t value)
{
    return SetText(std::to_string(value));
}

bool CXmlNode::SetTextULong(uint32_t value)
{
    return SetText(std::to_string(value));
}

bool CXmlNode::SetAttribute(const std::string& name, const std::string& value)
{
    if (IsNull() || _pNode->type != XML_ELEMENT_NODE || !xmldoc::IsValidName(name) || !xmldoc::IsValidXmlChars(value))
        return false;
    return xmlSetProp(_pNode, BAD_CAST name.c_str(), BAD_CAST value.c_str()) != nullptr;
}

bool CXmlNode::SetAttributeText(const std::string& name, const char* value)
{
    return value && SetAttribute(name, value);
}

bool CXmlNode::ReadText(std::string& text) const
{
    text.clear();
    if (IsNull())
        return false;
    text = TakeXmlString(xmlNodeGetContent(_pNode));
    return true;
}

bool CXmlNode::GetChildText(std::string& text) const
{
    text.clear();
    if (IsNull())
        return false;
    if (xmlNodePtr textNode = FirstTextChild())
        text = TakeXmlString(xmlNodeGetContent(textNode));
    return true;
}

std::string CXmlNode::GetText(const char* defaultText)
{
    std::string text;
    if (!ReadText(text))
        return text;
    if (text.empty() && defaultText && *defaultText) {
        SetText(defaultText);
        text = defaultText;
    }
    return text;
}

int CXmlNode::GetTextAsInt(int defaultValue)
{
    std::string text;
    if (!GetChildText(text))
        return 0;
    if (text.empty()) {
        text = std::to_string(defaultValue);
        SetText(text);
    }
    return ParseLeadingInt(text);
}

bool CXmlNode::GetAttributeValue(const std::string& name, std::string& value) const
{
    value.clear();
    if (IsNull() || _pNode->type != XML_ELEMENT_NODE)
        return false;
    // Namespace declarations are attributes to the callers (a root's "xmlns" names its namespace).
    if (name == "xmlns" || name.starts_with("xmlns:")) {
        const char* prefix = name.size() > 6 ? name.c_str() + 6 : nullptr;
        for (xmlNsPtr ns = _pNode->nsDef; ns; ns = ns->next) {
            bool match = prefix ? ns->prefix && xmlStrEqual(ns->prefix, BAD_CAST prefix) : !ns->prefix;
            if (match && ns->href) {
                value = reinterpret_cast<const char*>(ns->href);
                break;
            }
        }
        return true;
    }
    for (xmlAttrPtr attr = _pNode->properties; attr; attr = attr->next) {
        std::string qname = reinterpret_cast<const char*>(attr->name);
        if (attr->ns && attr->ns->prefix)
            qname = std::string(reinterpret_cast<const char*>(attr->ns->prefix)) + ":" + qname;
        if (qname == name) {
            value = TakeXmlString(xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr)));
            break;
        }
    }
    return true;
}

std::string CXmlNode::GetAttributeValue(const std::string& name) const
{
    std::string value;
    GetAttributeValue(name, value);
    return value;
}

std::string CXmlNode::GetAttribute(const std::string& name, const char* defaultValue)
{
    std::string value;
    if (!GetAttributeValue(name, value))
        return value;
    if (value.empty() && defaultValue && *defaultValue) {
        SetAttribute(name, defaultValue);
        value = defaultValue;
    }
    return value;
}

std::unique_ptr<CXmlNode> CXmlNode::GetChildNode(const std::string& nameOrXPath, bool create)
{
    auto node = SelectSingleNode(nameOrXPath);
    if (node->IsNull() && create)
        return AddChildNode(nameOrXPath);
    return node;
}

std::unique_ptr<CXmlNode> CXmlNode::AddChildNode(const std::string& name)
{
    if (IsNull() || !xmldoc::IsValidName(name))
        return std::make_unique<CXmlNode>();
    // A document takes one element only.
    bool canHold = _pNode->type == XML_ELEMENT_NODE ||
                   (_pNode->type == XML_DOCUMENT_NODE && !xmlDocGetRootElement(reinterpret_cast<xmlDocPtr>(_pNode)));
    if (!canHold)
        return std::make_unique<CXmlNode>();
    xmlNodePtr child = xmlNewDocNode(_pNode->doc, nullptr, BAD_CAST name.c_str(), nullptr);
    if (!child || !xmlAddChild(_pNode, child)) {
        xmlFreeNode(child);
        return std::make_unique<CXmlNode>();
    }
    return std::make_unique<CXmlNode>(_pDoc, child);
}

std::unique_ptr<CXmlNode> CXmlNode::SelectSingleNode(const std::string& xpath) const
{
    if (IsNull())
        return std::make_unique<CXmlNode>();
    auto nodes = xmldoc::SelectXPath(*_pDoc, _pNode, xpath, "CXmlNode::SelectSingleNode");
    if (!nodes || nodes->empty())
        return std::make_unique<CXmlNode>();
    return std::make_unique<CXmlNode>(_pDoc, nodes->front());
}

std::unique_ptr<CXmlNodeList> CXmlNode::SelectNodes(const std::string& xpath) const
{
    if (IsNull())
        return std::make_unique<CXmlNodeList>();
    auto nodes = xmldoc::SelectXPath(*_pDoc, _pNode, xpath, "CXmlNode::SelectNodes");
    if (!nodes)
        return std::make_unique<CXmlNodeList>();
    return std::make_unique<CXmlNodeList>(_pDoc, std::move(*nodes));
}
