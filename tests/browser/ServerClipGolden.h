#pragma once
// The plain server clip the browser tests share: its clip table and the ingest job it gives, byte for byte.

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "outside/rix/CRixSimServer.h"
#include "parvex/MXFId.h"
#include "platform/Clock.h"

namespace browsertest
{

inline platform::LocalTime FixedNow()
{
    return platform::LocalTime{.year = 2025, .month = 3, .day = 4, .hour = 5, .minute = 6, .second = 7};
}

inline std::string MaterialId()
{
    MXFIdType2 id;
    id.SetSerial(321);
    id.SetSeconds(500000000);  // 2025-11-05 00:53:20 counted from 2010
    id.SetCounter(1);
    char text[9];
    return id.Format(text);
}

// A clip table of the elements given, each "<NAME>value</NAME>".
inline std::string Table(const std::vector<std::pair<std::string, std::string>>& elements)
{
    std::string text = "<?xml version=\"1.0\"?>\n<QVCLIPTABLE>\n";
    for (const auto& [name, value] : elements)
        text += "<" + name + ">" + value + "</" + name + ">\n";
    return text + "</QVCLIPTABLE>\n";
}

// The job of the plain clip; {PORT} is the simulator's port.
constexpr const char* kGoldenPlain =
    "<?xml>\n<ingestdrag><printname>Goal & &lt;Save&gt; "
    "\xC3\xA9t\xC3\xA9</printname><lookupname>110B_plain.CLP</lookupname>"
    "<hostname>Mirel</hostname><directory>/CLIPS/</directory><dllname>KorvoSetup</dllname><dllversion>2.1</dllversion>"
    "<markin>00:30:22:00</markin><markout>00:30:26:00</markout><private><KorvoFps>25</KorvoFps>"
    "<KorvoTCIn>91000</KorvoTCIn><KorvoTCOut>91500</KorvoTCOut><KorvonAudios>8</KorvonAudios><KorvoRate>50</KorvoRate>"
    "<KorvoClipIn>100</KorvoClipIn><KorvoClipOut>301</KorvoClipOut><KorvoRixFstFld>1000</KorvoRixFstFld>"
    "<KorvonAudioBits>16</KorvonAudioBits><KorvonVideoChannels>1</KorvonVideoChannels><TrimClip>0</TrimClip>"
    "<Tardix>1</Tardix><KorvoFileType>RixFTP</KorvoFileType><KorvoDataType>IMX</KorvoDataType>"
    "<KorvoRixServer>Korvo:wqt@127.0.0.1:{PORT}</KorvoRixServer><Korvo_Metadatas><General_Infos><Parvex_File_Infos>"
    "<Rix_Device_Src>Korvo Rix</Rix_Device_Src><Rix_Processing_Device>Korvo Mirel Browser 01.09.00 (RixFtp)"
    "</Rix_Processing_Device><Rix_Material_ID>!5rtghy,</Rix_Material_ID><Rix_Offset_TC>90000</Rix_Offset_TC>"
    "<Rix_IN>1000</Rix_IN><Rix_IN_TC_str>00:30:20:00</Rix_IN_TC_str><Rix_OUT>1500</Rix_OUT>"
    "<Rix_OUT_TC_str>00:30:30:00</Rix_OUT_TC_str><Rix_Duration>500</Rix_Duration>"
    "<Rix_Duration_str>00:00:10:00</Rix_Duration_str><Rix_TC_System>3</Rix_TC_System>"
    "<Rix_TC_System_str>sys_25 (PAL)</Rix_TC_System_str><Rix_Video_Codec>4</Rix_Video_Codec>"
    "<Rix_Video_Codec_str>IMX 50</Rix_Video_Codec_str><Rix_Video_Std>1</Rix_Video_Std>"
    "<Rix_Video_Std_str>SD_625</Rix_Video_Std_str><Rix_Video_System>3</Rix_Video_System>"
    "<Rix_Video_System_str>sys_25 (PAL)</Rix_Video_System_str><Rix_Video_Interlaced>1</Rix_Video_Interlaced>"
    "<Rix_Video_Aspect_Ratio>3</Rix_Video_Aspect_Ratio><Rix_Video_Aspect_Ratio_str>16/9</Rix_Video_Aspect_Ratio_str>"
    "<Rix_Video_Bitrate>50</Rix_Video_Bitrate><Rix_Audio_Codec>0</Rix_Audio_Codec>"
    "<Rix_Audio_Codec_str>PCM</Rix_Audio_Codec_str><Rix_Nb_Audio_Monos>8</Rix_Nb_Audio_Monos>"
    "<Rix_Nb_Videos>1</Rix_Nb_Videos><Rix_Creation_Time_str>2025/11/05 00:53:20</Rix_Creation_Time_str>"
    "<Rix_Creation_Time_GMT_str>2025/11/05 00:53:20</Rix_Creation_Time_GMT_str>"
    "<Parvex_Backup_Time_str>2025/03/04 05:06:07</Parvex_Backup_Time_str></Parvex_File_Infos></General_Infos>"
    "<Clips_Infos><Clip><Parvex_Clip_Infos><Rix_UmID>U10</Rix_UmID><Rix_VarID>ABC</Rix_VarID>"
    "<Rix_NumClip>110</Rix_NumClip><Rix_Camera>B</Rix_Camera><Rix_Camera_Pref>2</Rix_Camera_Pref>"
    "<Rix_Camera_Label>Cam & Co</Rix_Camera_Label><Rix_Rating>3</Rix_Rating><Rix_TC_System>3</Rix_TC_System>"
    "<Rix_TC_System_str>sys_25 (PAL)</Rix_TC_System_str><Rix_Offset_TC>90000</Rix_Offset_TC>"
    "<Rix_Short_IN>1100</Rix_Short_IN><Rix_Short_IN_TC_str>00:30:22:00</Rix_Short_IN_TC_str>"
    "<Rix_Short_REF>1150</Rix_Short_REF><Rix_Short_REF_TC_str>00:30:23:00</Rix_Short_REF_TC_str>"
    "<Rix_Short_OUT>1301</Rix_Short_OUT><Rix_Short_OUT_TC_str>00:30:26:00</Rix_Short_OUT_TC_str>"
    "<Rix_Clip_Duration>201</Rix_Clip_Duration><Rix_Clip_Duration_str>00:00:04:00</Rix_Clip_Duration_str>"
    "<Rix_ClipName>Goal & &lt;Save&gt; \xC3\xA9t\xC3\xA9</Rix_ClipName><Rix_Keyword_1>plain</Rix_Keyword_1>"
    "<Rix_Keyword_2>\xC3\xA9t</Rix_Keyword_2><Rix_Keyword_4>last</Rix_Keyword_4><Rix_ClipIdSrc>SRC01</Rix_ClipIdSrc>"
    "<Rix_FillAndKey_Type>1</Rix_FillAndKey_Type><Rix_FillAndKey>110C</Rix_FillAndKey></Parvex_Clip_Infos></Clip>"
    "</Clips_Infos></Korvo_Metadatas></private></ingestdrag>\n";

inline std::string WithPort(std::string text, uint16_t port)
{
    const size_t at = text.find("{PORT}");
    return at == std::string::npos ? text : text.replace(at, 6, std::to_string(port));
}

// An IMX 50 clip on a 625-line server: names with "&", "<" and non-ASCII text, Unicode keywords and clip id.
inline std::string PlainTable()
{
    return Table({{"OFFSETTC", "90000"},
                  {"IN", "1000"},
                  {"OUT", "1500"},
                  {"SHORTIN", "1100"},
                  {"SHORTOUT", "1301"},
                  {"OFFSETREF", "50"},
                  {"AUDIOMODE", "4"},
                  {"VIDEOCOMPRESSIONRATE", "50"},
                  {"VIDEOFORMAT", "1"},
                  {"VIDEOCOMPRESSIONTYPE", "3"},
                  {"ASPECTRATIO", "2"},
                  {"UNICODEFLAG", "264"},  // 0x100 CLIPID, 0x08 INDEXKEY1
                  {"IDMATERIAL", MaterialId()},
                  {"NUMCLIPLenmark", "16494"},  // 0x4000 + 110
                  {"CAMERA", "B"},
                  {"CAMPREF", "2"},
                  {"CLIPNAMESOURCE", "Cam &amp; Co"},
                  {"CLIPIDSOURCE", "SRC01"},
                  {"QUALITY", "3"},
                  {"FILLANDKEYTYPE", "1"},
                  {"FILLANDKEY", "110C"},
                  {"NBCHANNELAV", "9"},
                  {"CLIPNAME", "  Goal &amp; &lt;Save&gt; \xC3\xA9t\xC3\xA9  "},
                  {"CLIPID", "5500310030000000"},  // "U10" in UTF-16
                  {"VARID32", "4142430000"},
                  {"VARID32_CURSIZE", "40"},
                  {"INDEXKEY0", "plain"},
                  {"INDEXKEY1", "E90074000000"},  // "ét"
                  {"INDEXKEY3", " last "}});
}

// The simulator on the account "Korvo"/"wqt", started on a free port, with the process's local time set to UTC so
// that the job's times are fixed; null when it could not start.
inline std::unique_ptr<rixsim::CRixSimServer> StartSimulatorInUtc()
{
    setenv("TZ", "UTC", 1);
    tzset();
    rixsim::RixSimConfig config;
    config._szUser = "Korvo";
    config._szPassword = "wqt";
    auto server = std::make_unique<rixsim::CRixSimServer>(config);
    if (!server->Start())
        return nullptr;
    return server;
}

}  // namespace browsertest
