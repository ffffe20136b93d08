#include "sender/CDorn_Korvo_Writer.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/CLogManager.h"
#include "media/ImxFrames.h"
#include "sender/DornCodecFrames.h"
#include "writers/parvex/KorvoMXFIdGen.h"

namespace
{
std::string FitLouthId(std::string id)
{
    id.resize(8, ' ');
    return id;
}
}  // namespace

CDorn_Korvo_Writer::CDorn_Korvo_Writer(const char* clipName, const char* louthIdMain, const char* varIdMain,
                                       const char* louthIdBackup, const char* varIdBackup, uint32_t serial,
                                       bool blocks8MB)
    : _szClipName(clipName ? clipName : ""),
      _szLouthIdMain(louthIdMain ? louthIdMain : ""),
      _szVarIdMain(varIdMain ? varIdMain : ""),
      _szLouthIdBackup(louthIdBackup ? louthIdBackup : ""),
      _szVarIdBackup(varIdBackup ? varIdBackup : ""),
      _nSerial(serial),
      _b8MBBlocks(blocks8MB)
{
    theLogManager.Log("CDorn_Korvo_Writer.CDorn_Korvo_Writer : _szLouthIDMain is [%s].", _szLouthIdMain.c_str());
    theLogManager.Log("CDorn_Korvo_Writer.CDorn_Korvo_Writer : _szVarIDMain is [%s].", _szVarIdMain.c_str());
    theLogManager.Log("CDorn_Korvo_Writer.CDorn_Korvo_Writer : _szLouthIDBackup is [%s].", _szLouthIdBackup.c_str());
    theLogManager.Log("CDorn_Korvo_Writer.CDorn_Korvo_Writer : _szVarIDBackup is [%s].", _szVarIdBackup.c_str());
}

CDorn_Korvo_Writer::~CDorn_Korvo_Writer() = default;

std::string CDorn_Korvo_Writer::NewClipId() const
{
    KorvoMXFIdGen generator;
    generator.SetSerialNumber(_nSerial / 10);
    char id[16] = {};
    if (generator.GenerateId(id) != KORVOMXF_OK)
        return std::string();
    return id;
}

int CDorn_Korvo_Writer::OpenCommon(uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits,
                                   const CTimeCode& start, int64_t duration)
{
    _nPictureCode = pictureCode;
    _nSystem = pictureCode == 3 || pictureCode == 6 ? 3 : 4;
    _b24Bit = sampleBits == 24;
    _nSourceChannels = std::clamp(channels, 0, kMaxSourceChannels);
    _nBitrate = bitrate;

    _nServerChannels = _nSourceChannels == 0 ? 0 : _nSourceChannels <= 4 ? 4 : 8;
    theLogManager.Log("CDorn_Korvo_Writer %i audio channels [-> %i Korvo channels]", _nSourceChannels,
                      _nServerChannels);
    for (int c = 0; c < kMaxSourceChannels; ++c) {
        _channelBuffers[c].assign(c < _nSourceChannels ? kChannelBufferBytes : 0, 0);
        _channelFill[c] = 0;
    }

    const TcSystem tcSystem = _nSystem == 3 ? 3 : 4;
    if (start == CTimeCode())
        _start = CTimeCode(10, 0, 0, 0, false, tcSystem);
    else
        _start = start;

    _bFieldPairs = pictureCode < 6;
    if (_nSystem == 3) {
        _cadence = {960, 0, 0, 0, 0};
        _nCadenceLength = 1;
        _nAudioBlockSize = 2944;
    } else {
        _cadence = {801, 801, 801, 801, 800};
        _nCadenceLength = 5;
        _nAudioBlockSize = 2432;
    }
    const size_t blockBytes = size_t{AudioFieldBytes()} * (_bFieldPairs ? 2 : 1);
    _pAudioBlock.reset();
    if (blockBytes) {
        _pAudioBlock = platform::MakePageBuffer(blockBytes);
        if (!_pAudioBlock)
            return 1;
        std::memset(_pAudioBlock.get(), 0, blockBytes);
    }
    for (auto& info : _audioInfo)
        info = KorvoMXFAudioInfo{1, AudioFieldBytes(), static_cast<uint32_t>(_nServerChannels)};

    if (_szLouthIdMain.empty()) {
        const std::string first = NewClipId();
        std::this_thread::sleep_for(std::chrono::milliseconds(_nIdSpacingMs));
        const std::string second = NewClipId();
        if (_szVarIdMain.empty() && _szLouthIdBackup.empty() && _szVarIdBackup.empty()) {
            _szLouthIdMain = _szVarIdMain = first;
            _szLouthIdBackup = _szVarIdBackup = second;
        } else if (_szLouthIdBackup.empty()) {
            _szLouthIdMain = first;
            _szLouthIdBackup = second;
        } else {
            _szLouthIdMain = first;
        }
    }
    _szLouthIdMain = FitLouthId(_szLouthIdMain);
    _szLouthIdBackup = FitLouthId(_szLouthIdBackup);
    if (_szVarIdMain.size() > 32)
        _szVarIdMain.resize(32);
    if (_szVarIdBackup.size() > 32)
        _szVarIdBackup.resize(32);

    _nFieldsDone = 0;
    _nCadencePos = 0;
    _nDurationFields = _bFieldPairs ? duration * 2 : duration;
    return 0;
}

uint32_t CDorn_Korvo_Writer::NeedBytes() const
{
    uint32_t samples = _cadence[_nCadencePos];
    if (_bFieldPairs)
        samples += _cadence[(_nCadencePos + 1) % _nCadenceLength];
    return samples * (_b24Bit ? 3 : 2);
}

bool CDorn_Korvo_Writer::AllChannelsHold(uint32_t bytes) const
{
    for (int c = 0; c < _nSourceChannels; ++c)
        if (_channelFill[c] < bytes)
            return false;
    return true;
}

void CDorn_Korvo_Writer::BuildAudioBlock(uint32_t limit)
{
    const uint32_t bps = _b24Bit ? 3 : 2;
    const int fields = _bFieldPairs ? 2 : 1;
    for (int f = 0; f < fields; ++f) {
        const uint32_t n = std::min(_cadence[_nCadencePos], limit);
        limit -= n;
        for (int c = 0; c < _nServerChannels; ++c) {
            uint8_t* block =
                _pAudioBlock.get() + size_t{_nAudioBlockSize} * static_cast<size_t>(c + _nServerChannels * f);
            std::memset(block, 0, _nAudioBlockSize);
            block[1] = static_cast<uint8_t>(n >> 8);
            block[2] = static_cast<uint8_t>(n & 0xFF);
            if (c >= _nSourceChannels)
                continue;
            const uint8_t* source = _channelBuffers[c].data();
            uint8_t* out = block + 3;
            for (uint32_t s = 0; s < n; ++s, source += bps, out += 3) {
                if (_b24Bit) {
                    out[0] = source[2];
                    out[1] = source[1];
                    out[2] = source[0];
                } else {
                    const int32_t v = Sample16To24(static_cast<int16_t>(source[0] | source[1] << 8));
                    out[0] = static_cast<uint8_t>(v >> 16);
                    out[1] = static_cast<uint8_t>(v >> 8);
                    out[2] = static_cast<uint8_t>(v);
                }
            }
        }
        const uint32_t consumed = n * bps;
        for (int c = 0; c < _nSourceChannels; ++c) {
            const uint32_t take = std::min(consumed, _channelFill[c]);
            std::memmove(_channelBuffers[c].data(), _channelBuffers[c].data() + take, _channelFill[c] - take);
            _channelFill[c] -= take;
        }
        _nCadencePos = (_nCadencePos + 1) % _nCadenceLength;
    }
}

int CDorn_Korvo_Writer::AddPicture(const DornFrame* frame)
{
    const int result = CDornWriter::AddPicture(frame);
    if (result == 0 && _nSourceChannels == 0)
        return WriteFrame();
    return result;
}

int CDorn_Korvo_Writer::AddAudio(int channel, const DornFrame* frame)
{
    if (channel < 0 || channel >= _nSourceChannels) {
        theLogManager.Log("CDorn_Korvo_Writer::AddAudioFrame - channel %i not opened [%i channels]", channel,
                          _nSourceChannels);
        return 1;
    }
    const uint32_t length = frame && frame->pData ? frame->nLength : 0;
    if (_channelFill[channel] + uint64_t{length} > kChannelBufferBytes) {
        theLogManager.Log("CDorn_Korvo_Writer::AddAudioFrame - EXCESSIVE Audio Bytes !! [%li / %li]",
                          static_cast<long>(length), static_cast<long>(kChannelBufferBytes));
        return 1;
    }
    if (length)
        std::memcpy(_channelBuffers[channel].data() + _channelFill[channel], frame->pData, length);
    _channelFill[channel] += length;
    if (AllChannelsHold(NeedBytes())) {
        BuildAudioBlock();
        if (!_pictures.empty())
            return WriteFrame();
    }
    return 0;
}

int CDorn_Korvo_Writer::AddNULLAudioFrame(int channel, int64_t frameNumber)
{
    const uint32_t bps = _b24Bit ? 3 : 2;
    const int64_t at = frameNumber < 0 ? 0 : (_bFieldPairs ? frameNumber * 2 : frameNumber);
    uint32_t samples = _cadence[static_cast<size_t>(at % _nCadenceLength)];
    if (_bFieldPairs)
        samples += _cadence[static_cast<size_t>((at + 1) % _nCadenceLength)];
    if (_silence.empty())
        _silence.assign(_b24Bit ? 6144 : 4096, 0);
    const DornFrame silent{_silence.data(), std::min<uint32_t>(samples * bps, static_cast<uint32_t>(_silence.size()))};
    return AddAudio(channel, &silent);
}

int CDorn_Korvo_Writer::FlushOnePicture()
{
    const uint32_t need = NeedBytes();
    // The last picture keeps the sound the host sent for it: the cadence may ask one sample more than the host's
    // own cadence gave, and a padded sample would come back as sound the source never had. A picture whose sound
    // never came is filled with silence.
    uint32_t held = 0;
    for (int c = 0; c < _nSourceChannels; ++c)
        held = std::max(held, _channelFill[c]);
    const uint32_t bytes = _pictures.size() == 1 && held > 0 ? std::min(held, need) : need;
    for (int c = 0; c < _nSourceChannels; ++c) {
        if (_channelFill[c] < bytes) {
            std::memset(_channelBuffers[c].data() + _channelFill[c], 0, bytes - _channelFill[c]);
            _channelFill[c] = bytes;
        }
    }
    if (_nSourceChannels)
        BuildAudioBlock(bytes / (_b24Bit ? 3 : 2));
    const size_t before = _pictures.size();
    const int result = WriteFrame();
    if (_pictures.size() == before)
        DropOldestPicture();
    return result;
}

int CDorn_Korvo_Writer::CloseCommon(bool cancelled)
{
    int first = 0;
    if (cancelled)
        _pictures.clear();
    while (!_pictures.empty()) {
        const int result = FlushOnePicture();
        if (result != 0) {
            theLogManager.Log("CDorn_Korvo_Writer::Close - picture not written [%i], %i remaining", result,
                              static_cast<int>(_pictures.size()));
            if (first == 0)
                first = result;
        }
    }
    for (int c = 0; c < kMaxSourceChannels; ++c) {
        _channelBuffers[c].clear();
        _channelBuffers[c].shrink_to_fit();
        _channelFill[c] = 0;
    }
    _pAudioBlock.reset();
    _silence.clear();
    return first;
}

int CDorn_Korvo_Writer::Close(bool cancelled)
{
    return CloseCommon(cancelled);
}

int CDorn_Korvo_Writer::WriteImxFrame(const KorvoMXFVideoInfo& record, int64_t frameSize)
{
    if (_pictures.empty())
        return -1;
    auto& picture = _pictures.front();
    KorvoMXFVideoInfo video = record;
    video._nSize =
        dorncodec::TrimmedLength(picture.pData.get(), std::min(static_cast<uint32_t>(frameSize), picture.nCapacity));
    const int result = PutElement(video, picture.pData.get(), 2, AudioInfos(), AudioBlock());
    DropOldestPicture();
    _nFieldsDone += 2;
    return result;
}

bool CDorn_Korvo_Writer::LearnDVCPro(DornDVCProFrames& dvcpro, const DornFrame* frame, int64_t* frameSize,
                                     const char* road)
{
    uint32_t size = 0;
    if (!dvcpro.Learn(frame, _nPictureCode, _nAspectCode, kMaxFrameCapacity, &size)) {
        if (!dvcpro.Unsupported().empty())
            _szRefusal = dvcpro.Unsupported() + " cannot be played out to " + road;
        return false;
    }
    if (!_bAspectGiven && !dvcpro.IsHD())
        _nAspectCode = dvcpro.AspectCode();
    *frameSize = size;
    SetFrameCapacity(size);
    return true;
}

dorncodec::HydrelUnits CDorn_Korvo_Writer::LearnHydrel(const DornFrame* frame, uint32_t* units, uint32_t* unitSize,
                                                       int64_t* frameSize)
{
    const uint32_t id = frame ? dorncodec::HydrelCompressionId(frame->pData, frame->nLength) : 0;
    const dorncodec::HydrelUnits row = dorncodec::HydrelUnitsOf(id);
    *units = row.nUnits;
    *unitSize = row.nUnitSize;
    *frameSize = int64_t{row.nUnits} * row.nUnitSize;
    SetFrameCapacity(static_cast<uint32_t>(*frameSize));
    return row;
}

KorvoMXFVideoInfo CDorn_Korvo_Writer::ImxRecord(uint8_t pictureCode)
{
    KorvoMXFVideoInfo video{};
    video._nVideoFormat = 4;
    video._nWidth = imx::kWidth;
    video._nLines = imx::CodedLines(pictureCode == 3);
    return video;
}

KorvoMXFVideoInfo CDorn_Korvo_Writer::HydrelRecord(uint8_t pictureCode)
{
    const bool progressive = pictureCode > 5;
    KorvoMXFVideoInfo video{};
    video._nVideoFormat = 5;
    video._nWidth = progressive ? 1280 : 1920;
    video._nLines = progressive ? 720 : 1080;
    return video;
}

int CDorn_Korvo_Writer::WriteDVCProFrame(DornDVCProFrames& dvcpro, const KorvoMXFVideoInfo& record, int64_t frameSize)
{
    if (_pictures.empty())
        return -1;
    uint32_t packedSize = 0;
    const uint8_t* packed =
        dvcpro.Pack(_pictures.front().pData.get(),
                    std::min(static_cast<uint32_t>(frameSize), _pictures.front().nCapacity), &packedSize);
    int result = -1;
    if (packed) {
        KorvoMXFVideoInfo video = record;
        video._nSize = packedSize;
        result = PutElement(video, packed, dvcpro.Fields(), AudioInfos(), AudioBlock());
    }
    DropOldestPicture();
    _nFieldsDone += dvcpro.Fields();
    return result;
}

int CDorn_Korvo_Writer::WriteHydrelFrame(const KorvoMXFVideoInfo& record, uint32_t units, uint32_t unitSize)
{
    if (_pictures.empty())
        return -1;
    auto& picture = _pictures.front();
    // A one-unit frame of interlaced material carries both fields' audio.
    const uint32_t audioPerUnit = units == 1 && _bFieldPairs ? 2 : 1;
    int result = 0;
    for (uint32_t u = 0; u < units && result == 0 && size_t{u + 1} * unitSize <= picture.nCapacity; ++u) {
        uint8_t* unit = picture.pData.get() + size_t{u} * unitSize;
        KorvoMXFVideoInfo video = record;
        video._nSize = dorncodec::PrepareHydrelUnit(unit, unitSize);
        result = PutElement(video, unit, audioPerUnit, AudioInfos() + u % 2,
                            AudioBlock() ? AudioBlock() + size_t{AudioFieldBytes()} * (u % 2) : nullptr);
    }
    DropOldestPicture();
    _nFieldsDone += units * audioPerUnit;
    return result;
}
