#include "reading/mxf/CMXFXDCAMHDReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/CLogManager.h"
#include "reading/mxf/MXFKlv.h"
#include "reading/mxf/MXFReaderOps.h"

// --- CMXFXDCAMHDReaderBase ---

int32_t CMXFXDCAMHDReaderBase::Open(uint32_t flag)
{
    const int32_t result = CMXFEssenceReader::Open(flag);
    if (result != 0)
        return result;
    IndexTrailingEssence();
    GoToDataStart();
    return 0;
}

namespace
{

constexpr uint64_t kPictureAfterPackage = 512;  // the system item and its fill come first
constexpr uint32_t kPictureHeaderPeek = 1024;
constexpr size_t kMaxTrailingPackages = size_t{1} << 22;

// One content package found by walking the essence.
struct Package {
    uint64_t nPicture = 0;  // position of the picture element's key
    uint64_t nSound = 0;    // of the first sound element's key, 0 without one
    int nCodingType = 0;    // 1 I, 2 P, 3 B
    int nTemporalReference = 0;
    bool bClosedGop = false;
};

// The coding type and temporal reference of the MPEG-2 picture in the bytes, and whether a closed GOP opens
// there; false without a picture header.
bool ParsePictureHeader(const uint8_t* p, uint32_t size, Package* package)
{
    for (uint32_t i = 0; i + 6 <= size; ++i) {
        if (p[i] != 0 || p[i + 1] != 0 || p[i + 2] != 1)
            continue;
        if (p[i + 3] == 0xB8 && i + 8 <= size)
            package->bClosedGop = (p[i + 7] & 0x40) != 0;
        if (p[i + 3] == 0x00) {
            package->nTemporalReference = p[i + 4] << 2 | p[i + 5] >> 6;
            package->nCodingType = p[i + 5] >> 3 & 7;
            return package->nCodingType >= 1 && package->nCodingType <= 3;
        }
    }
    return false;
}

}  // namespace

void CMXFXDCAMHDReaderBase::IndexTrailingEssence()
{
    if (_partitions.size() < kFirstPartition)
        return;
    const CMXFPartition& last = *_partitions.back();
    const uint64_t start = last.EssenceStart();
    if (last.key[13] == 4 || start >= last.nEnd || Seek(start) != 0)
        return;
    // Packages in stream order; the walk ends at the partition's end or at the first element cut short. A cut
    // inside a package leaves that package out; one at the start of the next keeps it.
    std::vector<Package> packages;
    bool lastWhole = true;
    while (Tell() < last.nEnd && packages.size() < kMaxTrailingPackages) {
        const uint64_t at = Tell();
        uint8_t key[16];
        uint64_t length = 0;
        if (!ReadKey(key, &length)) {
            lastWhole = false;
            break;
        }
        const bool ul = mxf::Matches(key, mxf::kUlPrefix, 4);
        const bool packageStart = ul && (key[12] == 0x04 || key[12] == 0x05 || key[12] == 0x15);
        if (length > last.nEnd - std::min(last.nEnd, Tell())) {
            lastWhole = packageStart;
            break;
        }
        if (ul && key[12] == 0x15) {
            Package package;
            package.nPicture = at;
            const uint32_t peek = static_cast<uint32_t>(std::min<uint64_t>(length, kPictureHeaderPeek));
            if (!Ensure(peek) || !ParsePictureHeader(_pCursor, peek, &package))
                break;
            packages.push_back(package);
        } else if (ul && key[12] == 0x16 && !packages.empty() && packages.back().nSound == 0) {
            packages.back().nSound = at;
        }
        if (!SkipBytes(length)) {
            lastWhole = false;
            break;
        }
    }
    if (!lastWhole && !packages.empty())
        packages.pop_back();
    if (packages.empty() || packages.front().nPicture != start + kPictureAfterPackage)
        return;

    auto index = std::make_unique<CMXFPartition>();
    index->key = last.key;
    index->key[13] = 3;
    index->nPosition = index->nThis = last.nEnd;
    index->nEnd = last.nEnd;
    index->nHeaderStart = last.nEnd;
    index->nBodySID = last.nBodySID;
    // The last partition's own index (from the third on) addresses the pictures before it.
    index->nIndexStart = _partitions.size() > kFirstPartition ? last.nIndexStart + last.nIndexDuration : 0;
    index->nIndexDuration = packages.size();
    index->nSliceCount = 1;
    // Entries as a writer makes them: the key frame offset leads back to the GOP's I picture in stream order,
    // the temporal offset from a display position to the stored picture shown there.
    size_t keyIndex = 0;
    for (size_t i = 0; i < packages.size(); ++i) {
        const Package& package = packages[i];
        if (package.nCodingType == 1)
            keyIndex = i;
        CMXFIndexEntry entry;
        entry.nStreamOffset = package.nPicture - packages.front().nPicture;
        entry.nFlags = package.nCodingType == 1   ? (package.bClosedGop || i == 0 ? 0xC0 : 0x40)
                       : package.nCodingType == 2 ? 0x22
                                                  : 0x33;
        entry.nKeyFrameOffset =
            static_cast<int8_t>(std::max<int64_t>(-128, static_cast<int64_t>(keyIndex) - static_cast<int64_t>(i)));
        const int64_t wanted = static_cast<int64_t>(i - keyIndex);
        for (size_t j = keyIndex; j < packages.size() && j < keyIndex + 128; ++j) {
            if (j > keyIndex && packages[j].nCodingType == 1)
                break;
            if (packages[j].nTemporalReference == wanted) {
                entry.nTemporalOffset = static_cast<int8_t>(static_cast<int64_t>(j) - static_cast<int64_t>(i));
                break;
            }
        }
        if (package.nSound != 0)
            entry.sliceOffsets.push_back(
                static_cast<uint32_t>(package.nSound - (package.nPicture - kPictureAfterPackage)));
        index->entries.push_back(std::move(entry));
    }
    theLogManager.LogTo(_szLogName,
                        "(CMXFXDCAMHDReader::Open) %zu content packages after the last index, indexed from the "
                        "essence",
                        packages.size());
    const int64_t total = static_cast<int64_t>(index->nIndexStart + index->nIndexDuration);
    if (_nDuration < 0 || _nDuration > total)
        _nDuration = total;
    _partitions.push_back(std::move(index));
}

const CMXFIndexEntry* CMXFXDCAMHDReaderBase::EntryAt(const Place& place) const
{
    if (place.nPartition >= _partitions.size() || place.nEntry < 0)
        return nullptr;
    const auto& entries = Entries(place.nPartition);
    return static_cast<size_t>(place.nEntry) < entries.size() ? &entries[place.nEntry] : nullptr;
}

bool CMXFXDCAMHDReaderBase::Move(Place* place, int64_t count) const
{
    Place p = *place;
    int64_t e = p.nEntry + count;
    while (e < 0) {
        if (p.nPartition <= kFirstPartition)
            return false;
        --p.nPartition;
        e += static_cast<int64_t>(Entries(p.nPartition).size());
    }
    while (p.nPartition < _partitions.size() && static_cast<size_t>(e) >= Entries(p.nPartition).size()) {
        e -= static_cast<int64_t>(Entries(p.nPartition).size());
        ++p.nPartition;
    }
    if (p.nPartition >= _partitions.size())
        return false;
    p.nEntry = e;
    *place = p;
    return true;
}

void CMXFXDCAMHDReaderBase::EnterPartition()
{
    _nBase = 0;
    const size_t p = _current.nPartition;
    if (p < kFirstPartition || p >= _partitions.size())
        return;
    const CMXFPartition& before = *_partitions[p - 1];
    const auto& entries = Entries(p);
    _nBase = static_cast<int64_t>(before.EssenceStart()) -
             (entries.empty() ? 0 : static_cast<int64_t>(entries.front().nStreamOffset));
}

bool CMXFXDCAMHDReaderBase::SettleForwards()
{
    while (_current.nPartition < _partitions.size() &&
           static_cast<size_t>(_current.nEntry) >= Entries(_current.nPartition).size()) {
        ++_current.nPartition;
        _current.nEntry = 0;
        EnterPartition();
    }
    return _current.nPartition < _partitions.size();
}

bool CMXFXDCAMHDReaderBase::PositionOf(uint64_t offset, uint64_t* position) const
{
    const int64_t size = FileSize();
    if (offset > static_cast<uint64_t>(size < 0 ? 0 : size))
        return false;
    const int64_t at = _nBase + static_cast<int64_t>(offset);
    if (at < 0 || at >= size)
        return false;
    *position = static_cast<uint64_t>(at);
    return true;
}

int32_t CMXFXDCAMHDReaderBase::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    if (!SettleForwards())
        return kNoMoreData;
    const int32_t result = ReadEntry(buffer, size, sizeOut, secondsOut);
    if (result == kDataOk)
        ++_current.nEntry;
    return result;
}

int32_t CMXFXDCAMHDReaderBase::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    if (_current.nPartition < kFirstPartition || _partitions.size() <= kFirstPartition)
        return kNoMoreData;
    Place place = _current;
    if (place.nPartition >= _partitions.size()) {
        place.nPartition = _partitions.size() - 1;
        place.nEntry = static_cast<int64_t>(Entries(place.nPartition).size());
    }
    if (!Move(&place, -1))
        return kNoMoreData;
    if (place.nPartition != _current.nPartition) {
        _current = place;
        EnterPartition();
    }
    _current = place;
    return ReadEntry(buffer, size, sizeOut, secondsOut);
}

int32_t CMXFXDCAMHDReaderBase::GoToDataStart()
{
    _current = {std::min(kFirstPartition, _partitions.size()), 0};
    if (_partitions.size() <= kFirstPartition)
        _current.nPartition = _partitions.size();
    EnterPartition();
    return 0;
}

int32_t CMXFXDCAMHDReaderBase::GoToDataEnd()
{
    _current = {_partitions.size(), 0};
    return 0;
}

int32_t CMXFXDCAMHDReaderBase::GoToTime(double* seconds)
{
    if (!seconds)
        return kBeyondEnd;
    const double fields = std::trunc(mxf::NonNegativeSeconds(*seconds) * _dEditRate * 2);
    if (!(fields < 9.0e18))
        return kBeyondEnd;
    return GoToFieldOffset(static_cast<int64_t>(fields));
}

int32_t CMXFXDCAMHDReaderBase::GetCurrentFieldInfo(uint32_t* a, uint32_t* b, uint8_t* c)
{
    if (a)
        *a = 0;
    if (b)
        *b = 0;
    if (c)
        *c = 3;
    return 0;
}

// --- CMXFXDCAMHDVideoReader ---

int64_t CMXFXDCAMHDVideoReader::Reorder(const Place& start) const
{
    const CMXFIndexEntry* entry = EntryAt(start);
    if (!entry)
        return 0;
    int64_t sum = entry->nTemporalOffset;
    Place place = start;
    // The offsets of one GOP lead back to their start in a few steps; a walk that strays is cut off.
    for (int step = 0; sum != 0; ++step) {
        if (step >= 16 || sum < -4 || sum > 4)
            return 0;
        if (!Move(&place, EntryAt(place)->nTemporalOffset))
            return 0;
        entry = EntryAt(place);
        sum += entry->nTemporalOffset;
    }
    return entry->nTemporalOffset;
}

int32_t CMXFXDCAMHDVideoReader::Open(uint32_t flag)
{
    _descriptor.clear();
    _nLeadingFrames = 0;
    const int32_t result = CMXFXDCAMHDReaderBase::Open(flag);
    if (result != 0)
        return result;
    if (!GrowBuffer(0x100000))
        return kNoMoreData;
    const CMXFIndexEntry* first = EntryAt(_current);
    if (!first || (first->nFlags & 0x80) != 0)
        return 0;
    Place place = _current;
    int64_t leading = Reorder(place);
    while (Move(&place, 1)) {
        ++leading;
        if (EntryAt(place)->nKeyFrameOffset == 0)
            break;
    }
    _nLeadingFrames = leading + Reorder(place);
    _current = place;
    EnterPartition();
    return 0;
}

int32_t CMXFXDCAMHDVideoReader::OnPictureDescriptor(const uint8_t* value, uint64_t length)
{
    _descriptor.assign(value, value + std::min<uint64_t>(length, 1024));
    return 0;
}

bool CMXFXDCAMHDVideoReader::GetVideoInfo(VideoInfo* info)
{
    if (!info)
        return false;
    uint32_t width = 0;
    uint32_t height = 0;
    mxf::ForEachLocalTag(_descriptor.data(), _descriptor.size(), [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        if (tag == 0x3208 && size >= 4)
            height = mxf::Be32(v);
        else if (tag == 0x3209 && size >= 4)
            width = mxf::Be32(v);
        return width == 0 || height == 0;
    });
    info->nVideoType = HDV_Video;
    info->nAspect = 3;
    info->bProgressive = _nTcSystem >= 6;
    info->nStandard = height == 540 || height == 1080 ? 4 : 3;
    info->nWidth = width;
    info->nHeight = height;
    return true;
}

int32_t CMXFXDCAMHDVideoReader::GetCurrentFieldInfo(uint32_t* rate, uint32_t* editUnitSize, uint8_t* aspect)
{
    if (rate)
        *rate = static_cast<uint32_t>(_dEditRate + 0.5);
    if (editUnitSize)
        *editUnitSize = _nEditUnitSize;
    if (aspect)
        *aspect = 3;
    return 0;
}

int32_t CMXFXDCAMHDVideoReader::ReadEntry(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    const CMXFIndexEntry* entry = EntryAt(_current);
    uint64_t position = 0;
    if (!entry || entry->nStreamOffset > ~uint64_t{0} - 512 || !PositionOf(entry->nStreamOffset + 512, &position))
        return kNoMoreData;
    if (Seek(position) != 0 || !Ensure(24))
        return kNoMoreData;
    uint8_t key[16];
    uint64_t length = 0;
    if (!ReadKey(key, &length))
        return kKeyUnreadable;
    if (length > Remaining(Tell()) || !GrowBuffer(length) || !Ensure(static_cast<uint32_t>(length)))
        return kNoMoreData;
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(length);
    if (size < length)
        return kBufferTooSmall;
    std::memcpy(*buffer, _pCursor, length);
    if (secondsOut) {
        const int64_t display = _current.nEntry + static_cast<int64_t>(_partitions[_current.nPartition]->nIndexStart) -
                                Reorder(_current) - _nLeadingFrames;
        *secondsOut = static_cast<double>(_nFieldsPerEditUnit * display) / _dFieldRate;
    }
    return kDataOk;
}

int32_t CMXFXDCAMHDVideoReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!buffer || !*buffer)
        return kNoBuffer;
    // Backwards, only GOP starts are handed out.
    const Place start = _current;
    for (;;) {
        Place place = _current;
        if (place.nPartition >= _partitions.size()) {
            if (_partitions.size() <= kFirstPartition)
                return kNoMoreData;
            place = {_partitions.size() - 1, static_cast<int64_t>(Entries(_partitions.size() - 1).size())};
        }
        if (place.nPartition < kFirstPartition || !Move(&place, -1)) {
            _current = start;
            EnterPartition();
            return kNoMoreData;
        }
        _current = place;
        if (EntryAt(place)->nKeyFrameOffset == 0)
            break;
    }
    EnterPartition();
    return ReadEntry(buffer, size, sizeOut, secondsOut);
}

int32_t CMXFXDCAMHDVideoReader::GoToFieldOffset(int64_t field)
{
    if (field < 0)
        return kBeyondEnd;
    const int64_t unit = _nTcSystem >= 6 ? field : field / 2;
    const int64_t target = unit + _nLeadingFrames;
    if (_nDuration < 0 || target > _nDuration)
        return kBeyondEnd;
    size_t p = kFirstPartition;
    while (p < _partitions.size() &&
           _partitions[p]->nIndexStart + _partitions[p]->nIndexDuration <= static_cast<uint64_t>(target) &&
           _partitions[p]->nIndexStart < (uint64_t{1} << 32))
        ++p;
    if (p >= _partitions.size())
        return kBeyondEnd;
    const uint64_t indexStart = _partitions[p]->nIndexStart;
    Place place{p, static_cast<uint64_t>(target) > indexStart ? target - static_cast<int64_t>(indexStart) : 0};
    if (!EntryAt(place))
        return kBeyondEnd;
    // To the GOP start, then back while the start displays after the target.
    const int8_t keyFrame = EntryAt(place)->nKeyFrameOffset;
    if (keyFrame != 0 && !Move(&place, keyFrame))
        place.nEntry = 0;
    auto display = [&](const Place& at) {
        const CMXFIndexEntry* e = EntryAt(at);
        const int64_t shown = at.nEntry + static_cast<int64_t>(_partitions[at.nPartition]->nIndexStart);
        return (e->nFlags & 0x80) != 0 ? shown : shown - Reorder(at);
    };
    for (size_t guard = 0; display(place) > target && guard < 100000; ++guard) {
        Place back = place;
        bool found = false;
        while (Move(&back, -1))
            if (EntryAt(back)->nKeyFrameOffset == 0) {
                found = true;
                break;
            }
        if (!found)
            break;
        place = back;
    }
    _current = place;
    EnterPartition();
    return 0;
}

// --- CMXFXDCAMHDAudioReader ---

int32_t CMXFXDCAMHDAudioReader::Open(uint32_t flag)
{
    _nChannels = 0;
    _nBitsPerSample = 0;
    const int32_t result = CMXFXDCAMHDReaderBase::Open(flag);
    if (result != 0)
        return result;
    const CMXFPartition* partition =
        _current.nPartition < _partitions.size() ? _partitions[_current.nPartition].get() : nullptr;
    // Room for every channel's element: four times the fourth delta, or a generous default without one.
    const uint64_t room =
        partition && partition->deltas.size() >= 4 ? uint64_t{4} * partition->deltas[3].nElementDelta : 0x100000;
    if (!GrowBuffer(std::max<uint64_t>(room, 0x10000)))
        return kNoMoreData;
    if (_nChannels == 0 && partition && partition->deltas.size() >= 5)
        _nChannels = static_cast<int32_t>(partition->deltas.size() - 2);
    return 0;
}

int32_t CMXFXDCAMHDAudioReader::OnSoundDescriptor(const uint8_t* value, uint64_t length)
{
    ++_nChannels;
    mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        if (tag == 0x3D01 && size >= 1)
            _nBitsPerSample = v[size - 1];
        return true;
    });
    return 0;
}

int32_t CMXFXDCAMHDAudioReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    if (channels && max > 0)
        channels[0] = _nChannels;
    return _nChannels;
}

int32_t CMXFXDCAMHDAudioReader::GetCurrentFieldInfo(uint32_t* sampleRate, uint32_t* bits, uint8_t*)
{
    if (sampleRate)
        *sampleRate = 48000;
    if (bits)
        *bits = _nBitsPerSample;
    return 0;
}

int32_t CMXFXDCAMHDAudioReader::ReadEntry(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    const CMXFIndexEntry* entry = EntryAt(_current);
    if (!entry || _nChannels <= 0)
        return kNoMoreData;
    // Without slice offsets, the sound follows the delta entries' second slice start.
    uint64_t offset = entry->sliceOffsets.empty() ? 0 : entry->sliceOffsets.front();
    uint64_t position = 0;
    if (entry->nStreamOffset > ~uint64_t{0} - offset || !PositionOf(entry->nStreamOffset + offset, &position))
        return kNoMoreData;
    if (Seek(position) != 0)
        return kNoMoreData;
    Ensure(static_cast<uint32_t>(std::min<uint64_t>(_nBufferSize, Remaining(position))));
    const uint8_t* end = _pCursor + _nBytesLeft;
    uint64_t total = 0;
    int32_t result = mxf::WalkElements(_pCursor, end, _nChannels, 0, nullptr, &total);
    if (result == mxf::kWalkNoKey)
        result = kKeyUnreadable;
    if (result != 0)
        return result;
    if (total > size) {
        if (sizeOut)
            *sizeOut = static_cast<uint32_t>(total);
        return kBufferTooSmall;
    }
    mxf::WalkElements(_pCursor, end, _nChannels, 0, *buffer, &total);
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(total);
    if (secondsOut)
        *secondsOut =
            static_cast<double>(_current.nEntry + static_cast<int64_t>(_partitions[_current.nPartition]->nIndexStart)) *
            _nFieldsPerEditUnit / _dFieldRate;
    return kDataOk;
}

int32_t CMXFXDCAMHDAudioReader::GoToFieldOffset(int64_t field)
{
    if (field < 0)
        return kBeyondEnd;
    const uint64_t unit = static_cast<uint64_t>(field / 2);
    size_t p = kFirstPartition;
    while (p < _partitions.size() && _partitions[p]->nIndexStart + _partitions[p]->nIndexDuration <= unit)
        ++p;
    if (p >= _partitions.size() || unit < _partitions[p]->nIndexStart)
        return kNoMoreData;
    _current = {p, static_cast<int64_t>(unit - _partitions[p]->nIndexStart)};
    EnterPartition();
    return 0;
}
