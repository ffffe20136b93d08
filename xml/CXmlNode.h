#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct _xmlNode;

namespace xmldoc
{
struct XmlDocState;
}

class CXmlNodeList;

// One node of an XML document, or no node at all (an empty node, from a query that matched nothing): every
// operation on an empty node fails. Texts are UTF-8. The node keeps its document alive.
class CXmlNode
{
public:
    CXmlNode() = default;
    CXmlNode(std::shared_ptr<xmldoc::XmlDocState> doc, _xmlNode* node);
    ~CXmlNode();
    CXmlNode(const CXmlNode&) = delete;
    CXmlNode& operator=(const CXmlNode&) = delete;

    // True for an empty node.
    bool IsNull() const { return _pNode == nullptr; }

    bool PutText(const std::string& text);
    bool SetText(const std::string& text);
    bool SetTextString(const char* text);
    bool SetTextInt(int value);
    bool SetTextLong(int32_t value);
    bool SetTextInt64(int64_t value);
    bool SetTextULong(uint32_t value);

    bool SetAttribute(const std::string& name, const std::string& value);
    bool SetAttributeText(const std::string& name, const char* value);

    bool ReadText(std::string& text) const;
    bool GetChildText(std::string& text) const;
    // The text of the node and all its descendants; when that is empty and a default is given, the default is
    // written into the node and returned.
    std::string GetText(const char* defaultText = nullptr);
    int GetTextAsInt(int defaultValue);

    bool GetAttributeValue(const std::string& name, std::string& value) const;
    std::string GetAttributeValue(const std::string& name) const;
    std::string GetAttribute(const std::string& name, const char* defaultValue = nullptr);

    std::unique_ptr<CXmlNode> GetChildNode(const std::string& nameOrXPath, bool create);
    std::unique_ptr<CXmlNode> AddChildNode(const std::string& name);
    std::unique_ptr<CXmlNode> SelectSingleNode(const std::string& xpath) const;
    std::unique_ptr<CXmlNodeList> SelectNodes(const std::string& xpath) const;

private:
    _xmlNode* FirstTextChild() const;
    bool ReplaceValue(const std::string& text);

    std::shared_ptr<xmldoc::XmlDocState> _pDoc;
    _xmlNode* _pNode = nullptr;
};
