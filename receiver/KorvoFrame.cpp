#include "receiver/KorvoFrame.h"

#include <cstring>

#include "common/CLogManager.h"
#include "platform/PageBuffer.h"
#include "receiver/CFrameBufferHandler.h"

std::atomic<int32_t> KorvoFrame::s_nLiveFrames{0};

KorvoFrame::KorvoFrame(const void* source, uint32_t byteCount, uint32_t numSamples, int32_t minBufferSize)
    : _nSize(byteCount), _nNumSamples(numSamples)
{
    if (minBufferSize >= 1 && static_cast<uint32_t>(minBufferSize) > _nSize)
        _nSize = static_cast<uint32_t>(minBufferSize);
    _pData = static_cast<uint8_t*>(theFrameBufferHandler.Take(_nSize));
    if (!_pData)
        _pData = static_cast<uint8_t*>(platform::AllocPages(_nSize ? _nSize : 1));
    if (!_pData)
        theLogManager.Log("KorvoFrame: FRAME ALLOCATION FAILURE !! [ new returned NULL ]");
    if (_pData && source) {
        std::memcpy(_pData, source, byteCount);
        std::memset(_pData + byteCount, 0, _nSize - byteCount);
    }
    ++s_nLiveFrames;
}

KorvoFrame::~KorvoFrame()
{
    if (_pData)
        platform::FreePages(_pData);
    --s_nLiveFrames;
    if (!_bReleased)
        theLogManager.Log("UN-DELETED FRAME !!!");
}

void KorvoFrame::Release()
{
    if (_pData) {
        theFrameBufferHandler.Give(_pData, _nSize);
        _pData = nullptr;
    }
    _bReleased = 1;
    delete this;
}
