#pragma once

#include <iosfwd>
#include <memory>
#include <string>

#include "xml/CXmlNode.h"
#include "xml/CXmlNodeList.h"

// An XML document to build, load, query with XPath and save. Texts are UTF-8; documents are written as UTF-8.
// Nothing is ever fetched from the network: paths are plain file paths, and external entities and DTDs are not
// loaded. Nodes and lists taken from the document stay valid after Close or destruction.
class CXmlDocument
{
public:
    CXmlDocument();
    ~CXmlDocument();
    CXmlDocument(const CXmlDocument&) = delete;
    CXmlDocument& operator=(const CXmlDocument&) = delete;

    bool Create();
    bool LoadXml(const std::string& text);
    bool Load(const std::string& path);
    // Prefixes for XPath, as "xmlns:a='uri-a' xmlns:b='uri-b'".
    bool SetSelectionNamespaces(const std::string& text);
    void Close();

    // Target "xml" sets the document's declaration (data like version="1.0"); any other target appends a
    // processing instruction.
    bool AddProcessingInstruction(const std::string& target, const std::string& data);
    std::unique_ptr<CXmlNode> CreateRootNode(const std::string& name);
    std::unique_ptr<CXmlNode> GetRootNode() const;
    std::unique_ptr<CXmlNode> SelectSingleNode(const std::string& xpath) const;
    std::unique_ptr<CXmlNodeList> SelectNodes(const std::string& xpath) const;

    // The serialised document, with its declaration when it has one; empty without a document.
    std::string GetXml() const;
    // Saves to the path, or to the loaded path when none is given. Paths are file paths, never URLs, so a "%"
    // needs no escaping; the flag is kept for callers that set it.
    bool Save(const char* path = nullptr, bool escapePercent = false);
    // The reason of the last failed Save.
    const std::string& GetLastError() const { return _szLastError; }

private:
    bool Parse(std::istream& in, const char* url, const char* caller);

    std::shared_ptr<xmldoc::XmlDocState> _pDoc;
    std::string _szPath;
    std::string _szLastError;
};
