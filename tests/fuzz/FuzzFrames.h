#pragma once
// What the frame reader fuzz targets do with a reader that opened: every frame handed out is touched whole (its
// first and last byte) and given back, up to 64 frame sets, and the reader closed.
#include <cstdint>

#include "receiver/CReceiverFReader.h"
#include "receiver/KorvoFrame.h"

namespace fuzzframes
{

inline volatile uint32_t g_nSink;

inline void Touch(KorvoFrame* frame)
{
    if (!frame)
        return;
    uint32_t sum = frame->GetNumSamples() + static_cast<uint32_t>(frame->GetTypeCode());
    if (frame->GetSize())
        sum += frame->GetData()[0] + frame->GetData()[frame->GetSize() - 1];
    g_nSink = sum;
    frame->Release();
}

inline void ReadAll(CReceiverFReader& reader, int32_t tracks)
{
    for (int frames = 0; frames < 64 && reader.ReadNextFrame(); ++frames) {
        Touch(reader.GetVideoFrame());
        for (int32_t t = 1; t <= tracks + 1; ++t)
            Touch(reader.GetTrackFrame(t));
    }
    reader.Close();
}

}  // namespace fuzzframes
