#pragma once

#include <atomic>
#include <cstdint>

#include "outside/qo/Ingest/Frame.h"

// One frame handed to the host: a video picture or one audio track of a frame set. Its buffer comes from the
// module's pool and goes back there on Release, which also deletes the frame; Release may come from any thread.
class KorvoFrame : public Qo::Ingest::Frame
{
public:
    static constexpr int32_t kInitialTypeCode = 1004;

    // Copies byteCount bytes of source (when given) into a buffer of byteCount bytes, or of minBufferSize when
    // that is at least 1 and larger; the rest of the buffer is zero.
    KorvoFrame(const void* source, uint32_t byteCount, uint32_t numSamples, int32_t minBufferSize);
    ~KorvoFrame() override;
    KorvoFrame(const KorvoFrame&) = delete;
    KorvoFrame& operator=(const KorvoFrame&) = delete;

    uint8_t* GetData() override { return _pData; }
    uint32_t GetSize() override { return _nSize; }
    uint32_t GetNumSamples() override { return _nNumSamples; }
    int32_t GetTypeCode() override { return _nTypeCode; }
    // Gives the buffer back to the pool and deletes the frame.
    void Release() override;

    // 0 for a picture, the track number (1 to 8) for audio.
    void SetTypeCode(int32_t code) { _nTypeCode = code; }
    bool IsReleased() const { return _bReleased != 0; }

    // Frames constructed and not yet destroyed, in the whole module.
    static int32_t GetLiveCount() { return s_nLiveFrames.load(); }

private:
    uint8_t* _pData = nullptr;
    uint32_t _nSize = 0;
    uint32_t _nNumSamples = 0;
    int32_t _nTypeCode = kInitialTypeCode;
    uint8_t _bReleased = 0;

    static std::atomic<int32_t> s_nLiveFrames;
};
