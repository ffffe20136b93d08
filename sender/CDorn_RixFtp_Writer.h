#pragma once

#include <memory>
#include <string>
#include <vector>

#include "media/Vc3Compressions.h"
#include "platform/PageBuffer.h"
#include "rixclient/CRixFtpClient.h"
#include "sender/CDorn_Korvo_Writer.h"
#include "sender/DornDVCProFrames.h"
#include "writers/parvex/KorvoMXFBlockWriter.h"

// Sends the played-out clip as 8 MB BAVD blocks over FTP to a main and a backup video server at once: creates
// the clip on each, sends its clip-table XML, optionally writes a referencing XML per server, and deletes the
// clips when the transfer is cancelled. The codec variants below add the picture handling.
class CDorn_RixFtp_Writer : public CDorn_Korvo_Writer, public KorvoMXFBlockWriter
{
public:
    static constexpr uint32_t kBlockBytes = 0x800000;
    // WriteBlock's result when the transfer was cancelled: nothing sent, the clips stay for Close to delete.
    static constexpr int kWriteCancelled = 2;

    // How long DoOpenRixFtpClip tries each server: a server without welcome (error 5) and other errors.
    struct RetryPolicy {
        int nNoWelcomeAttempts = 40;
        uint32_t nNoWelcomeWaitMs = 2333;
        int nOtherAttempts = 5;
        uint32_t nOtherWaitMs = 5000;
        uint32_t nNoWelcomeGiveUpMs = 30000;  // a server silent this long is taken for dead
    };

    CDorn_RixFtp_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain, const char* louthIdBackup,
                        const char* varIdBackup, int refModeMain, const char* refPathMain, int refModeBackup,
                        const char* refPathBackup, const char* tapeId, const char* owner, uint32_t serial);
    ~CDorn_RixFtp_Writer() override;

    int Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int one,
             CTimeCode start, int64_t duration) override;
    int Close(bool cancelled) override;
    using CDorn_Korvo_Writer::AddPicture;
    using CDorn_Korvo_Writer::SetAspectRatio;

    void SetRetryPolicy(const RetryPolicy& policy) { _retry = policy; }
    // Which of the main and backup destinations was lost and why; empty when none was.
    const std::string& GetLostText() const { return _szLost; }
    // The clips a cancel could not delete, still on their servers; empty when none is left.
    const std::string& GetUndeletedText() const { return _szUndeleted; }
    void SetClientTimeouts(const FtpTimeouts& ftp, const RixTimeouts& rix);
    // Where the clip-table XML sent to the servers is kept as well ("C:\KorvoLogs\KorvoMirel\MetadataUpdate.xml").
    void SetMetadataCopyPath(const std::string& path) { _szMetadataCopy = path; }

    int64_t GetBlocksWritten() const { return _nBlocksWritten; }
    size_t GetConnectionCount() const { return _connections.size(); }
    const std::string& GetServerClipName() const { return _szServerClipName; }
    const std::string& GetClipId() const { return _szClipId; }
    const std::string& GetHostList() const { return _szHostList; }
    const std::string& GetDirectory() const { return _szDirectory; }
    uint32_t GetFirstField() const { return _nFirstField; }

    // The path, or "base (n).ext" with the first n for which no file "base (n).*" exists.
    static std::string InsureUniqueFileName(const std::string& path, bool keep);
    // Why an id cannot be part of a server clip, empty when it can. A Louth id is part of the clip's file name:
    // it holds no control character and none that the ids this system makes avoid (a folder separator, a dot,
    // ...). A VarID goes into the clip table and the referencing XML as it stands: it holds no control character.
    static std::string ServerIdFault(const std::string& id, bool louthId);

protected:
    // The variant's block-writer settings and frame size, before the common Open.
    virtual void ConfigureVariant() = 0;
    virtual const char* VariantName() const = 0;
    // One picture element into the block; a full block is sent and the element added again.
    int PutElement(const KorvoMXFVideoInfo& video, const uint8_t* data, uint32_t audioCount,
                   const KorvoMXFAudioInfo* audioInfo, const uint8_t* audio) override;
    void CloseQuietly() noexcept;

    int64_t _nFrameSize = -1;
    KorvoMXFVideoInfo _video;

private:
    struct Connection {
        std::unique_ptr<CRixFtpClient> pClient;
        int nDestination = 0;  // 0 main, 1 backup
        std::string szUrl;
    };

    int DoOpenRixFtpClip();
    int WriteBlock();
    int UpdateClipMetadata(CRixFtpClient& client, const std::string& clipFileName, const std::string& varId);
    void CreateStqReferencingXMLFile(const std::string& varId, const std::string& url, const std::string& destination);
    void WriteReferencingXml();
    bool Connect(CRixFtpClient& client);
    void NoteLost(int destination, const std::string& cause);
    bool WaitOrCancelled(uint32_t milliseconds) const;
    bool ParseTarget(const char* path);
    // Closes every server's clip; a cancelled transfer deletes every clip it created, also on the servers
    // dropped on the way, and logs those it could not delete.
    void CloseConnections(bool cancelled);
    // The clip and its clip table through a client connected to its server; true when neither is left. A
    // refusal (550) counts as gone only when the server then says it has no such file.
    bool DeleteCreatedClip(CRixFtpClient& client);
    // Deletes one file; false when it is still there (or the server cannot say) after the retries.
    bool DeleteServerFile(CRixFtpClient& client, const std::string& path);
    void NoteUndeleted(const std::string& url);
    // The same through a new connection to the server of the clip's URL.
    bool DeleteCreatedClip(const std::string& url);

    static constexpr int kDeleteAttempts = 5;
    static constexpr uint32_t kDeleteRetryMs = 200;

    std::string _szTapeId, _szOwner;
    int _nRefModeMain = 0, _nRefModeBackup = 0;
    std::string _szRefPathMain, _szRefPathBackup;
    platform::PageBuffer _pBlock;
    std::string _szHostList, _szDirectory, _szClipId, _szServerClipName;
    uint32_t _nFirstField = 0;
    int64_t _nFieldOffset = 0;
    std::vector<Connection> _connections;
    std::vector<std::string> _dropped;  // URLs of the clips created on servers dropped since
    bool _bOpened = false;
    bool _bRefXmlDone = false;
    bool _bOpenFailed = false;
    std::string _szLost;
    std::string _szUndeleted;
    int64_t _nBlocksWritten = 0;
    RetryPolicy _retry;
    FtpTimeouts _ftpTimeouts;
    RixTimeouts _rixTimeouts;
    bool _bTimeoutsSet = false;
    std::string _szMetadataCopy = "C:\\KorvoLogs\\KorvoMirel\\MetadataUpdate.xml";
};

class CDorn_RixFtpIMX_Writer : public CDorn_RixFtp_Writer
{
public:
    using CDorn_RixFtp_Writer::CDorn_RixFtp_Writer;
    ~CDorn_RixFtpIMX_Writer() override { CloseQuietly(); }
    int AddPicture(const DornFrame* frame) override;
    int WriteFrame() override;

protected:
    void ConfigureVariant() override;
    const char* VariantName() const override { return "CDorn_RixFtpIMX_Writer"; }
};

class CDorn_RixFtpDVCPro_Writer : public CDorn_RixFtp_Writer
{
public:
    CDorn_RixFtpDVCPro_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                              const char* louthIdBackup, const char* varIdBackup, int refModeMain,
                              const char* refPathMain, int refModeBackup, const char* refPathBackup, const char* tapeId,
                              const char* owner, uint32_t serial);
    ~CDorn_RixFtpDVCPro_Writer() override;
    int AddPicture(const DornFrame* frame) override;
    int WriteFrame() override;

protected:
    void ConfigureVariant() override;
    const char* VariantName() const override { return "CDorn_RixFtpDVCPro_Writer"; }

private:
    DornDVCProFrames _dvcpro;
};

class CDorn_RixFtpHydrel_Writer : public CDorn_RixFtp_Writer
{
public:
    CDorn_RixFtpHydrel_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                              const char* louthIdBackup, const char* varIdBackup, int refModeMain,
                              const char* refPathMain, int refModeBackup, const char* refPathBackup, const char* tapeId,
                              const char* owner, uint32_t serial);
    ~CDorn_RixFtpHydrel_Writer() override { CloseQuietly(); }
    int AddPicture(const DornFrame* frame) override;
    int WriteFrame() override;

protected:
    void ConfigureVariant() override;
    const char* VariantName() const override { return "CDorn_RixFtpHydrel_Writer"; }

private:
    uint32_t _nUnits = 2;
    uint32_t _nUnitSize = vc3::kDefaultUnitSize;
};
