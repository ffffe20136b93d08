#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "common/CSyncCritSec.h"
#include "common/CTimeCode.h"
#include "reading/framework/CDataReader.h"
#include "rixclient/CRixFTPBlockReader.h"
#include "serverblock/Bavd.h"

// Reads the video of a clip straight from a video server over its FTP dialect, field by field: the clip's
// description comes from its clip-table XML, its pictures from whole server blocks read (and read ahead)
// by the block reader, and the points of growing clips and trains from the RPC side channel.
// The reader is not opened by Open: the caller attaches a source named with the clip URL ("ftp://...")
// and calls Initialize with its options ("-refresh_limits" for a clip still being recorded).
class CRixFTPDataReader : public CRixFTPBlockReader, public CDataReader
{
public:
    static constexpr int32_t kEndOfData = -200;
    // How long OUT must stay still before the recording counts as ended, for old servers.
    static constexpr double kGrowthEndSeconds = 10.0;

    explicit CRixFTPDataReader(const std::string& logName);
    ~CRixFTPDataReader() override;

    // 0, or -1 no URL, -2 no clip table, -3 clip not opened, -4 bad block size or train, -5 no connection.
    virtual int32_t Initialize(const char* options);

    int32_t Close() override;
    bool IsAtEnd() override;
    bool IsOpen() override { return _bOpen; }
    // FileType, VideoType, 0, 0 as four 32-bit numbers.
    uint32_t GetFormat(uint8_t** format) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t SkipNextData() override;
    int32_t SkipPrevData() override;
    int32_t GoToFieldOffset(int64_t field) override;
    // The time counts in the clip's own rate.
    int32_t GoToTime(double* seconds) override;
    // The whole fields of the system in the time (negative and not-a-number times count as 0); shared by the
    // server readers' GoToTime.
    static int64_t FieldsOfTime(double seconds, TcSystem system);
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    int32_t Open(uint32_t) override { return -1; }

    // The clip as the clip table describes it.
    FileType GetFileType() const { return _eFileType; }
    VideoType GetVideoType() const { return _eVideoType; }
    TcSystem GetRateSystem() const { return _nRateSystem; }
    uint32_t GetAudioChannelCount() const { return _nAudioChannels; }
    uint32_t GetVideoChannelCount() const { return _nVideoChannels; }
    uint32_t GetFieldsPerPicture() const { return _nFieldsPerPicture; }
    uint8_t GetAspectCode() const { return _nAspect; }
    uint16_t GetSequenceId() const { return _nSequenceId; }
    char GetCamera() const { return _cCamera; }
    bool IsTrain() const { return _bTrain; }
    bool IsGrowing() const { return _bRefresh; }
    double GetServerVersion() const { return _dServerVersion; }
    uint64_t GetTcUserSource() const { return _nTcUsrSource; }
    uint64_t GetTcTodSource() const { return _nTcTodSource; }
    uint64_t GetTcUserCurrent() const { return _nTcUsrCurrent; }
    uint64_t GetTcTodCurrent() const { return _nTcTodCurrent; }

protected:
    void OnWelcomeMsg() override;
    int OnConnected() override;
    int OnFtpError(int code) override;
    int OnFtpSocketError() override;
    int OnRPCSocketError() override;
    bool IsFieldBeforeStart(uint32_t field) override;
    bool IsFieldPastEnd(uint32_t field) override;
    int FtpCloseFile(bool abort) override;

    virtual uint32_t GetBlockSize() const { return _nBlockSize; }
    // Called when OUT of a growing clip stopped moving; nothing to do here.
    virtual void OnGrowthEnded(int32_t) {}

private:
    class Guard
    {
    public:
        explicit Guard(CSyncCritSec& lock) : _lock(lock) { _lock.Lock(); }
        ~Guard() { _lock.Unlock(); }

    private:
        CSyncCritSec& _lock;
    };

    const std::string& LogName() const { return CDataReader::_szLogName; }
    int32_t ReadClipInfo();
    int32_t ExtractInfoFromFirstBlock(uint32_t startField);
    int32_t SetUpCache();
    // direction 0 forwards, 1 backwards; field kNoField for the neighbouring block.
    int32_t ReadBlock(uint32_t direction, uint32_t field, bool noRestart);
    // Makes the current block of the block reader the parsed one.
    int32_t TakeCurrentBlock();
    // The picture at the cursor and channel: 0, -4 no data, -10 bad metadata.
    int32_t CurrentElement(const uint8_t** data, uint32_t* size);
    int32_t Deliver(uint8_t** buffer, uint32_t capacity, uint32_t* sizeOut, double* secondsOut);
    // Drops preloading and the current block, then reads the block of the server field.
    int32_t Reposition(uint32_t direction, uint32_t field);
    int32_t StepForward(const char* caller);
    int32_t StepBackward(const char* caller);
    uint32_t CurrentField() const { return _bavd.GetFirstField() + _nCursor; }
    uint32_t FieldsPerRecord() const;
    int64_t ToServer(int64_t field) const { return field - _nOffsetTC; }
    double SecondsOf(int64_t field, uint32_t hundredths) const;

    std::string _szClipUrl;
    bool _bTrain = false;
    bool _bRefresh = false;
    double _dServerVersion = 0;
    // Clip points in the clip's own numbering (server fields plus the offset timecode); OUT excluded.
    std::atomic<uint32_t> _nIn{0};  // read by the preload thread
    std::atomic<uint32_t> _nOut{0};
    uint32_t _nShortIn = 0;
    uint32_t _nShortOut = 0;
    uint64_t _nTcUsrSource = 0;
    uint64_t _nTcTodSource = 0;
    uint64_t _nTcUsrCurrent = 0;
    uint64_t _nTcTodCurrent = 0;
    uint32_t _nAudioChannels = 0;
    FileType _eFileType = Unknown_File;
    VideoType _eVideoType = Unknown_Video;
    bool _bHD = false;
    bool _b720 = false;
    TcSystem _nRateSystem = 3;
    uint8_t _nAspect = 2;
    uint16_t _nSequenceId = 0xFFFF;
    char _cCamera = 'A';

    uint32_t _nBlockSize = kDefaultBlockSize;
    uint32_t _nFieldsInBlock = 0;
    uint32_t _nFieldsPerPicture = 1;
    uint32_t _nVideoChannels = 0;
    uint32_t _nAudioGroups = 0;
    uint32_t _nClipFirstField = 0;

    Bavd _bavd;
    const RixCacheElement* _pBlock = nullptr;  // the block _bavd describes
    uint32_t _nCursor = 0;                     // field index inside the block
    uint32_t _nChannel = 0;                    // video channel of the next element

    CSyncCritSec _csPosition;
    std::atomic<bool> _bRpcBroken{false};
    std::atomic<bool> _bAborting{false};
    bool _bOpen = false;
    bool _bInitialized = false;
    uint32_t _nLastOut = 0;
    double _dOutStillSince = 0;
};
