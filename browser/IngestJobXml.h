#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "xml/CXmlDocument.h"

// The ingest job document that the browser hands to the transfer service: "<?xml>" and a bare "&" in the text
// it sends (the service's reader expects them so), the full declaration in the copy it writes to disk.
namespace ingestjob
{

constexpr const char* kDllVersion = "2.1";
constexpr const char* kFixedCopyPath = "C:\\KorvoLogs\\KorvoMirel\\ingestdrag.xml";

// The text the builders return: every declaration shortened to "<?xml>", every "&amp;" made a bare "&".
std::string FinishJobText(const std::string& serialised);
// The text of the copy on disk: the declaration restored, the "&amp;" replacement applied once more.
std::string FixedCopyText(const std::string& jobText);
// Writes the copy to the fixed file (created anew, written whole without terminator); false when it could not be
// made, which the callers do not report.
bool WriteFixedCopy(const std::string& jobText, const std::string& path = kFixedCopyPath);

// The document with its declaration and the empty root "ingestdrag".
std::unique_ptr<CXmlNode> CreateJobDocument(CXmlDocument& doc);

// What every job names first: the clip, the target, the setup library and the marks; the clip's frame rate opens
// the private part.
struct JobHead {
    std::string printName;
    std::string lookupName;
    std::string hostName;
    std::string directory;
    std::string dllName;
    std::string markIn;
    std::string markOut;
    int32_t fps = 0;
};
// Writes the head under the root and returns the "private" part, its KorvoFps written.
std::unique_ptr<CXmlNode> AddJobHead(CXmlNode& root, const JobHead& head);

// The metadata tree of a clip description under the private part: the file node
// (Korvo_Metadatas/General_Infos/Parvex_File_Infos), its device and processing texts written, and the clip node
// (Korvo_Metadatas/Clips_Infos/Clip/Parvex_Clip_Infos).
struct MetadataNodes {
    std::unique_ptr<CXmlNode> file;
    std::unique_ptr<CXmlNode> clip;
};
MetadataNodes AddMetadataTree(CXmlNode& priv, const std::string& processingDevice);

// Child elements holding text only, one per number form of the job.
void AddText(CXmlNode& parent, const char* name, const std::string& text);
void AddInt(CXmlNode& parent, const char* name, int32_t value);     // "%d"
void AddLong(CXmlNode& parent, const char* name, int32_t value);    // "%ld" of a 32-bit long
void AddULong(CXmlNode& parent, const char* name, uint32_t value);  // "%lu" of a 32-bit long
void AddInt64(CXmlNode& parent, const char* name, int64_t value);   // 64-bit decimal
void AddFlag(CXmlNode& parent, const char* name, bool on);          // "1" or "0"

// The texts of codes that both builders share.
std::string TcSystemText(int32_t code);  // 3, 4, 5; any other "undefined"
std::string AspectText(int32_t code);    // 1 to 4; any other "unknown aspect %d "
// Timecode text "hh:mm:ss:ff" of a field count in a timecode system.
std::string TimecodeText(uint32_t fields, uint32_t tcSystem);
// A time printed "%Y/%m/%d %H:%M:%S" as a calendar time, without any zone shift; empty when it cannot be.
std::string CalendarText(int64_t seconds);
// The two creation-time texts of a material id: the time it carries as it stands, then taken as local time and
// converted to GMT. Both are left out for an empty id. False when a time cannot be printed: the texts not yet
// written are left out.
bool AddCreationTimes(CXmlNode& parent, const std::string& materialId);

}  // namespace ingestjob
