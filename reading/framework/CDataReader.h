#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/PageBuffer.h"
#include "reading/framework/FileTypes.h"
#include "reading/source/CSourceReader.h"

// Facts about the video of a clip.
struct VideoInfo {
    VideoType nVideoType = Unknown_Video;
    uint32_t nStandard = 0;  // 1 SD 525, 2 SD 625, 3 HD 720, 4 HD 1080
    uint8_t nAspect = 0;     // 0 unknown, 2 4:3, 3 16:9
    bool bProgressive = false;
    uint32_t nWidth = 0;
    uint32_t nHeight = 0;
};

// The root of every clip data reader: a reader walks one kind of media of one clip unit by unit (a field, a
// frame or a block of audio samples), forwards or backwards, and seeks by field or by time. The root owns the
// byte source the reader reads through, a page-allocated read buffer, the values of the clip's side-car
// metadata file and the reader's log name. Every default answers "not supported". Used by one thread at a time.
class CDataReader
{
public:
    // Results of GetNextData and GetPrevData.
    static constexpr int32_t kDataOk = 0;
    static constexpr int32_t kNoMoreData = 100;
    static constexpr int32_t kBufferTooSmall = 101;  // the size needed is written back, nothing is consumed
    static constexpr int32_t kNoBuffer = 102;
    static constexpr int32_t kNotSupported = -1;
    // Side-car stamps not known.
    static constexpr uint64_t kUnknownStamp = ~uint64_t{0};

    // The buffer holds exactly bufferSize bytes of pages (none for 0). An empty log name means "default".
    CDataReader(uint32_t bufferSize, const std::string& logName);
    virtual ~CDataReader();
    CDataReader(const CDataReader&) = delete;
    CDataReader& operator=(const CDataReader&) = delete;

    // The operations every reader answers, in this order.
    virtual int32_t Close();
    virtual int32_t Seek(uint64_t position);
    virtual bool IsAtEnd();
    virtual bool IsOpen();
    virtual int32_t GetAudioChannels(int32_t* channels, int32_t max);
    virtual int32_t SelectAudioStream(int32_t index);
    // A copy of the stream's format description, allocated with new[] and freed by the caller; its length.
    virtual uint32_t GetFormat(uint8_t** format);
    // An XML text describing the data, allocated with new[] and freed by the caller.
    virtual bool GetDataDescriptor(char** text, uint32_t* length);
    virtual bool GetVideoInfo(VideoInfo* info);
    // The next unit into *buffer (size bytes of room); a null *buffer may get a pointer into the reader's own
    // buffer, valid until the next call.
    virtual int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);
    virtual int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);
    virtual int32_t SkipNextData();
    virtual int32_t SkipPrevData();
    virtual int32_t GoToFieldOffset(int64_t field);
    // Negative and not-a-number times count as 0; the time reached may be written back.
    virtual int32_t GoToTime(double* seconds);
    // Field numbers with the timecode system, or milliseconds with system -1; each out may be null.
    virtual int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system);
    virtual int64_t GetOffsetTC();
    virtual int32_t GetExtendedInfo(double fieldRate);
    virtual int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code);
    virtual int32_t GoToDataStart();
    virtual int32_t GoToDataEnd();
    // Reads the media's headers through the source: 0, or a reader's own failure code.
    virtual int32_t Open(uint32_t flag);
    // Called after Seek replaced the buffer's contents.
    virtual void OnBufferReset();

    // Takes the source (the current one is deleted), loads its side-car file and opens.
    int32_t AttachSourceReader(CSourceReader* source, uint32_t flag);
    int32_t AttachSourceReader(std::unique_ptr<CSourceReader> source, uint32_t flag);
    // Replaces the source by a new one on the name; 1 when it cannot be made.
    int32_t ReopenSource(const char* name, uint32_t flag);
    // Uses a source the caller keeps owning (no side-car file); give it back with DetachSourceReader.
    int32_t SetSourceAndOpen(CSourceReader* source);
    CSourceReader* DetachSourceReader();
    CSourceReader* GetSourceReader() const { return _pSource; }
    const std::string& GetLogName() const { return _szLogName; }

    static uint32_t ReadBigEndian32(const uint8_t* bytes);
    static uint64_t ReadBigEndian64(const uint8_t* bytes);
    // Whether the bytes begin with "<?xml ", after a UTF-8 byte-order mark or not.
    static bool IsXmlText(const char* bytes);

protected:
    // 0 when data was added, 1 when the buffer is full of unconsumed bytes or the read failed (nothing is
    // lost then), -1 without source.
    int32_t FillBuffer();
    int32_t ResizeBuffer(uint32_t size);
    // Consumes count bytes; 1 when the source cannot be moved past the buffer.
    int32_t Skip(uint32_t count);
    void LoadSideCarFile();

    std::string _szLogName;
    int64_t _nOffsetTC = -1;
    CSourceReader* _pSource = nullptr;  // the source read from: the owned one or one lent by SetSourceAndOpen
    std::unique_ptr<CSourceReader> _pOwnedSource;
    platform::PageBuffer _pBuffer;
    uint32_t _nBufferSize = 0;
    uint32_t _nFill = 0;          // bytes of the buffer holding file data
    uint64_t _nBufferPos = 0;     // file position of the buffer's first byte
    uint8_t* _pCursor = nullptr;  // next byte to consume
    uint32_t _nBytesLeft = 0;     // from the cursor to the end of the fill
    int32_t _nSideCarIn = -1;
    int32_t _nSideCarDuration = -1;
    uint64_t _nUserTcInStamp = kUnknownStamp;  // packed TcDate
    uint64_t _nLtcInStamp = kUnknownStamp;     // packed TcDate

private:
    void ReplaceSource(std::unique_ptr<CSourceReader> source);
};
