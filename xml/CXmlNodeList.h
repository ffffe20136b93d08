#pragma once

#include <memory>
#include <vector>

#include "xml/CXmlNode.h"

// The nodes a multi-node query matched, in document order. It keeps their document alive.
class CXmlNodeList
{
public:
    CXmlNodeList() = default;
    CXmlNodeList(std::shared_ptr<xmldoc::XmlDocState> doc, std::vector<_xmlNode*> nodes);
    ~CXmlNodeList();
    CXmlNodeList(const CXmlNodeList&) = delete;
    CXmlNodeList& operator=(const CXmlNodeList&) = delete;

    int GetCount() const { return static_cast<int>(_vNodes.size()); }
    // A new node on the item, or an empty node when the index is out of range.
    std::unique_ptr<CXmlNode> GetItem(int index) const;

private:
    std::shared_ptr<xmldoc::XmlDocState> _pDoc;
    std::vector<_xmlNode*> _vNodes;
};
