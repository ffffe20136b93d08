#include "xml/CXmlNodeList.h"

#include "xml/XmlDocState.h"

CXmlNodeList::CXmlNodeList(std::shared_ptr<xmldoc::XmlDocState> doc, std::vector<_xmlNode*> nodes)
    : _pDoc(std::move(doc)), _vNodes(std::move(nodes))
{
}

CXmlNodeList::~CXmlNodeList() = default;

std::unique_ptr<CXmlNode> CXmlNodeList::GetItem(int index) const
{
    if (index < 0 || index >= GetCount())
        return std::make_unique<CXmlNode>();
    return std::make_unique<CXmlNode>(_pDoc, _vNodes[static_cast<size_t>(index)]);
}
