#pragma once

#include <memory>

#include "sender/CDorn_Korvo_Writer.h"
#include "sender/DornDVCProFrames.h"
#include "writers/parvex/KorvoMXFInfo.h"
#include "writers/parvex/KorvoMXFWriter.h"

// Writes the played-out clip as a Parvex clip file with 2 MB or 8 MB blocks; the codec variants below add
// the picture handling.
class CDorn_KorvoFile_Writer : public CDorn_Korvo_Writer, public KorvoMXFWriter
{
public:
    using CDorn_Korvo_Writer::CDorn_Korvo_Writer;
    ~CDorn_KorvoFile_Writer() override;

    int Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int one,
             CTimeCode start, int64_t duration) override;
    int Close(bool cancelled) override;
    using CDorn_Korvo_Writer::AddPicture;

    int64_t GetFieldOffset() const { return _nFieldOffset; }
    uint32_t GetFirstField() const { return _nFirstField; }

protected:
    // For the variants' destructors: a clip still open is finished; nothing leaves.
    void CloseQuietly() noexcept;
    // Hands one video element and its fields' audio to the clip file.
    int PutElement(const KorvoMXFVideoInfo& video, const uint8_t* data, uint32_t audioCount,
                   const KorvoMXFAudioInfo* audioInfo, const uint8_t* audio) override;
    // Settles the variant's picture record, info and frame size after a successful Open.
    virtual void ConfigureVariant() = 0;

    std::unique_ptr<KorvoMXFInfo> _pInfo;
    KorvoMXFVideoInfo _video;
    int64_t _nFrameSize = -1;  // -1: unknown until the first frame
    uint32_t _nFirstField = 0;
    int64_t _nFieldOffset = 0;
};

class CDorn_KorvoIMX_Writer : public CDorn_KorvoFile_Writer
{
public:
    using CDorn_KorvoFile_Writer::CDorn_KorvoFile_Writer;
    ~CDorn_KorvoIMX_Writer() override { CloseQuietly(); }
    int AddPicture(const DornFrame* frame) override;
    int WriteFrame() override;

protected:
    void ConfigureVariant() override;
};

class CDorn_KorvoDVCPro_Writer : public CDorn_KorvoFile_Writer
{
public:
    CDorn_KorvoDVCPro_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                             const char* louthIdBackup, const char* varIdBackup, uint32_t serial, bool blocks8MB);
    ~CDorn_KorvoDVCPro_Writer() override;
    int AddPicture(const DornFrame* frame) override;
    int WriteFrame() override;

protected:
    void ConfigureVariant() override;

private:
    DornDVCProFrames _dvcpro;
};

class CDorn_KorvoHydrel_Writer : public CDorn_KorvoFile_Writer
{
public:
    CDorn_KorvoHydrel_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                             const char* louthIdBackup, const char* varIdBackup, uint32_t serial, bool blocks8MB);
    ~CDorn_KorvoHydrel_Writer() override { CloseQuietly(); }
    int AddPicture(const DornFrame* frame) override;
    int WriteFrame() override;

protected:
    void ConfigureVariant() override;

private:
    uint32_t _nUnits = 2;
    uint32_t _nUnitSize = 0x4A000;
};
