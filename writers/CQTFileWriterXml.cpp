#include "writers/CQTFileWriter.h"

void CQTFileWriter::QTCreateXML(int64_t) {}
void CQTFileWriter::QTCreateXMLLogs(CXmlDocument&, CXmlNode&, CXmlDocument&) {}
