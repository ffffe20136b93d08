#include "reading/mxf/CMXFEssenceReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "common/CLogManager.h"
#include "media/ImxFrames.h"
#include "reading/mxf/MXFKlv.h"

namespace
{

constexpr size_t kMaxComponents = 4096;
constexpr size_t kMaxPartitions = 1u << 16;
constexpr uint32_t kMaxPackLength = 1u << 16;
// 2^53: the largest count a double holds exactly, and far more edit units than any file has.
constexpr double kMaxScaledDuration = 9007199254740992.0;

// A rate from the file truncated to hundredths, with its hundredths as an integer; false for a rate that is
// not a usable positive number.
bool TruncateRate(double rate, double* truncated, int64_t* hundredths)
{
    if (!(rate > 0.0) || rate > 1.0e6)
        return false;
    *hundredths = static_cast<int64_t>(rate * 100.0);
    *truncated = static_cast<double>(*hundredths) * 0.01;
    return true;
}

// Milliseconds of an edit unit count, saturated to the 32-bit range.
int64_t Milliseconds(int64_t units, double rate)
{
    const double ms = static_cast<double>(units) * 1000.0 / rate;
    if (std::isnan(ms))
        return 0;
    return static_cast<int64_t>(std::clamp(ms, -2147483648.0, 2147483647.0));
}

uint8_t KindOf(const uint8_t* definition, bool sourceClip)
{
    if (sourceClip && definition[11] == 2)
        return static_cast<uint8_t>(definition[12] + 1);
    return definition[11];
}

}  // namespace

CMXFEssenceReader::CMXFEssenceReader(uint32_t bufferSize, const std::string& logName) : CDataReader(bufferSize, logName)
{
}

CMXFEssenceReader::~CMXFEssenceReader() = default;

int32_t CMXFEssenceReader::GetNextData(uint8_t**, uint32_t, uint32_t*, double*)
{
    return kNotSupported;
}

int32_t CMXFEssenceReader::GetPrevData(uint8_t**, uint32_t, uint32_t*, double*)
{
    return kNotSupported;
}

int32_t CMXFEssenceReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (!system)
        return 1;
    if (!_bOpened)
        return -1;
    int64_t first = 0;
    int64_t last = 0;
    if (_nTcSystem != 0) {
        *system = _nTcSystem;
        first = _nStart * _nFieldsPerEditUnit;
        last = (_nStart + _nDuration) * _nFieldsPerEditUnit;
    } else {
        *system = -1;
        first = Milliseconds(_nStart, _dEditRate);
        last = Milliseconds(_nStart + _nDuration, _dEditRate);
    }
    if (in)
        *in = static_cast<int32_t>(first);
    if (out)
        *out = static_cast<int32_t>(last);
    return 0;
}

int32_t CMXFEssenceReader::GoToDataStart()
{
    if (_segments.empty())
        return -1;
    _nSegment = 0;
    _nSegmentStart = _segments[0].nEssenceStart;
    return Seek(_nSegmentStart);
}

int32_t CMXFEssenceReader::GoToDataEnd()
{
    if (_segments.empty())
        return -1;
    _nSegment = _segments.size();
    return Seek(_segments.back().pPartition->nEnd);
}

int32_t CMXFEssenceReader::OnPictureDescriptor(const uint8_t*, uint64_t)
{
    return 0;
}

int32_t CMXFEssenceReader::OnSoundDescriptor(const uint8_t*, uint64_t)
{
    return 0;
}

// --- buffer helpers ---

bool CMXFEssenceReader::Ensure(uint32_t count)
{
    if (count > _nBufferSize)
        return false;
    while (_nBytesLeft < count) {
        const uint32_t before = _nBytesLeft;
        if (FillBuffer() != 0 || _nBytesLeft == before)
            return false;
    }
    return true;
}

bool CMXFEssenceReader::GrowBuffer(uint64_t count)
{
    if (count < _nBufferSize)
        return true;
    if (count > kMaxMetadataBytes) {
        theLogManager.LogTo(_szLogName, "(CMXFEssenceReader::GrowBuffer) %llu bytes refused, at most %u",
                            static_cast<unsigned long long>(count), kMaxMetadataBytes);
        return false;
    }
    return ResizeBuffer(static_cast<uint32_t>(count / 4096 * 4096 + 4096)) == 0;
}

bool CMXFEssenceReader::SkipBytes(uint64_t count)
{
    if (count <= _nBytesLeft || count <= std::numeric_limits<uint32_t>::max())
        return Skip(static_cast<uint32_t>(count)) == 0;
    const uint64_t here = Tell();
    if (count > std::numeric_limits<uint64_t>::max() - here)
        return false;
    return Seek(here + count) == 0;
}

bool CMXFEssenceReader::ReadKey(uint8_t* key, uint64_t* length)
{
    if (!Ensure(17)) {
        return false;
    }
    const uint32_t need = _pCursor[16] < 0x80 ? 17 : 17 + (_pCursor[16] & 0x7F);
    if (!Ensure(need))
        return false;
    uint32_t size = 0;
    if (!mxf::ParseBerLength(_pCursor + 16, _pCursor + _nBytesLeft, length, &size))
        return false;
    std::memcpy(key, _pCursor, 16);
    return Skip(16 + size) == 0;
}

bool CMXFEssenceReader::SkipFill()
{
    if (!Ensure(17))
        return true;  // at the end: nothing to skip
    if (!mxf::IsFillKey(_pCursor))
        return true;
    uint8_t key[16];
    uint64_t length = 0;
    if (!ReadKey(key, &length) || length > Remaining(Tell()))
        return false;
    return SkipBytes(length);
}

int64_t CMXFEssenceReader::FileSize() const
{
    return _pSource ? _pSource->GetSize() : -1;
}

uint64_t CMXFEssenceReader::Remaining(uint64_t position) const
{
    const int64_t size = FileSize();
    if (size < 0)
        return std::numeric_limits<uint64_t>::max();
    return position < static_cast<uint64_t>(size) ? static_cast<uint64_t>(size) - position : 0;
}

bool CMXFEssenceReader::DeliverBefore(uint64_t position, uint64_t lowest, uint32_t unit, uint8_t** buffer,
                                      uint32_t* sizeOut, uint64_t* start)
{
    if (position <= lowest)
        return false;
    const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(unit, position - lowest));
    const uint64_t previous = position - count;
    if (!LoadAt(previous, count, lowest))
        return false;
    if (!*buffer)
        *buffer = _pCursor;
    else
        std::memcpy(*buffer, _pCursor, count);
    if (sizeOut)
        *sizeOut = count;
    *start = previous;
    return true;
}

bool CMXFEssenceReader::LoadAt(uint64_t position, uint32_t count, uint64_t lowest)
{
    if (count > _nBufferSize)
        return false;
    if (position >= _nBufferPos && position - _nBufferPos <= _nFill && _nFill - (position - _nBufferPos) >= count) {
        const uint64_t offset = position - _nBufferPos;
        _pCursor = _pBuffer.get() + offset;
        _nBytesLeft = static_cast<uint32_t>(_nFill - offset);
        return true;
    }
    const uint64_t back = std::min<uint64_t>(_nBufferSize - count, position - std::min(position, lowest));
    if (Seek(position - back) != 0 || !Ensure(static_cast<uint32_t>(back) + count))
        return false;
    _pCursor += back;
    _nBytesLeft -= static_cast<uint32_t>(back);
    return true;
}

// --- Open ---

void CMXFEssenceReader::Reset()
{
    _bOpened = false;
    _segments.clear();
    _components.clear();
    _sequences.clear();
    _pPackage.reset();
    _ripPositions.clear();
    _partitions.clear();
    _nSegment = 0;
    _nSegmentStart = 0;
    _nRunIn = 0;
    _dEditRate = 25.0;
    _nDuration = -1;
    _nStart = 0;
    _nEditUnitSize = 0;
    _nPrivateEditUnitSize = 0;
    _nTcSystem = 0;
    _nFieldsPerEditUnit = 2;
    _dFieldRate = 50.0;
}

int32_t CMXFEssenceReader::FindHeaderPartition()
{
    if (!Ensure(14))
        return kTooShort;
    for (uint32_t skip = 0; _nBytesLeft - skip >= 14; ++skip) {
        if (mxf::Matches(_pCursor + skip, mxf::kHeaderPartition, 14)) {
            _nRunIn = skip;
            return Skip(skip) == 0 ? 0 : kTooShort;
        }
    }
    return kNoHeaderPartition;
}

int32_t CMXFEssenceReader::ReadPartitionPack(CMXFPartition& partition)
{
    partition.nPosition = Tell();
    uint8_t key[16];
    uint64_t length = 0;
    if (!ReadKey(key, &length))
        return kKeyUnreadable;
    std::memcpy(partition.key.data(), key, 16);
    if (!mxf::Matches(key, mxf::kPartitionPrefix, 13)) {
        partition.nPackLength = 0;
        return 0;
    }
    if (length > kMaxPackLength || !GrowBuffer(length) || !Ensure(static_cast<uint32_t>(length)))
        return kDoesNotFit;
    partition.nPackLength = length;
    const uint8_t* v = _pCursor;
    // Fields the pack is too short for stay 0.
    auto at64 = [&](uint64_t offset) { return length >= offset + 8 ? mxf::Be64(v + offset) : 0; };
    auto at32 = [&](uint64_t offset) { return length >= offset + 4 ? mxf::Be32(v + offset) : 0; };
    partition.nKagSize = at32(4);
    const uint64_t size = Remaining(0);
    // Stored positions are shifted by the run-in; one that would pass the file is dropped.
    auto position = [&](uint64_t value) { return value < size - std::min(size, _nRunIn) ? value + _nRunIn : 0; };
    partition.nThis = at64(8) + _nRunIn;
    partition.nPrevious = position(at64(16));
    const uint64_t footer = at64(24);
    partition.nFooter = footer != 0 ? position(footer) : 0;
    partition.nHeaderByteCount = at64(32);
    partition.nIndexByteCount = at64(40);
    partition.nBodySID = at32(60);
    if (length >= 80)
        partition.nOpPattern = static_cast<uint16_t>(v[64 + 12] | v[64 + 13] << 8);
    if (length >= 88) {
        // Labels are kept last first.
        mxf::ForEachBatchItem(v + 80, static_cast<uint32_t>(length - 80), 16, [&](const uint8_t* label) {
            MXFLabel l;
            std::memcpy(l.data(), label, 16);
            partition.labels.insert(partition.labels.begin(), l);
        });
    }
    if (!SkipBytes(length) || !SkipFill())
        return kDoesNotFit;
    partition.nHeaderStart = Tell();
    // Byte counts that pass the end of the file cannot be honoured.
    const uint64_t room = Remaining(partition.nHeaderStart);
    if (partition.nHeaderByteCount > room || partition.nIndexByteCount > room - partition.nHeaderByteCount) {
        theLogManager.LogTo(_szLogName,
                            "(CMXFEssenceReader::ReadPartitionPack) partition at %llu: header bytes %llu and index "
                            "bytes %llu pass the end of the file",
                            static_cast<unsigned long long>(partition.nPosition),
                            static_cast<unsigned long long>(partition.nHeaderByteCount),
                            static_cast<unsigned long long>(partition.nIndexByteCount));
        return kDoesNotFit;
    }
    return 0;
}

int32_t CMXFEssenceReader::ReadIndexSegments(CMXFPartition& partition)
{
    if (partition.nIndexByteCount == 0)
        return 0;
    const uint64_t start = partition.nHeaderStart + partition.nHeaderByteCount;
    const uint64_t end = start + partition.nIndexByteCount;
    if (Seek(start) != 0)
        return kDoesNotFit;
    while (Tell() < end) {
        uint8_t key[16];
        uint64_t length = 0;
        if (!ReadKey(key, &length))
            break;
        if (length > end - std::min(end, Tell()) || !GrowBuffer(length) || !Ensure(static_cast<uint32_t>(length)))
            return kDoesNotFit;
        if (!mxf::IsFillKey(key))
            partition.ParseIndexSegment(_pCursor, length);
        if (!SkipBytes(length) || !SkipFill())
            break;
    }
    return 0;
}

int32_t CMXFEssenceReader::ReadPartitionAt(uint64_t position, std::unique_ptr<CMXFPartition>* out)
{
    if (Seek(position) != 0)
        return kKeyUnreadable;
    auto partition = std::make_unique<CMXFPartition>();
    int32_t result = ReadPartitionPack(*partition);
    if (result == 0 && partition->nIndexByteCount != 0)
        result = ReadIndexSegments(*partition);
    partition->nPosition = position;
    *out = std::move(partition);
    return result;
}

void CMXFEssenceReader::FindFooter(CMXFPartition& header)
{
    const int64_t size = FileSize();
    if (size <= 0)
        return;
    // One read of the tail, so that no key straddles two reads.
    const uint64_t span = std::min<uint64_t>(static_cast<uint64_t>(size), kMaxFooterScan);
    const uint64_t from = static_cast<uint64_t>(size) - span;
    std::vector<uint8_t> tail(span);
    uint64_t reached = from;
    uint32_t got = 0;
    if (_pSource->Seek(&reached) != 0 || reached != from ||
        _pSource->Read(tail.data(), static_cast<uint32_t>(span), &got) != 0) {
        Seek(from);  // puts the buffer back in step with the source
        return;
    }
    Seek(from + got);
    const uint8_t* begin = tail.data();
    const uint8_t* end = begin + got;
    for (uint64_t back = 16; back <= got; ++back) {
        const uint8_t* p = end - back;
        if (mxf::Matches(p, mxf::kFooterPartition, 14)) {
            header.nFooter = from + (p - begin);
            return;
        }
        if (mxf::Matches(p, mxf::kRandomIndexPack, 16) && _ripPositions.empty()) {
            uint64_t length = 0;
            uint32_t berSize = 0;
            if (!mxf::ParseBerLength(p + 16, end, &length, &berSize))
                continue;
            const uint8_t* entries = p + 16 + berSize;
            // The pack ends with its own length (4 bytes); a shorter one has no entries.
            const uint64_t avail = static_cast<uint64_t>(end - entries);
            const uint64_t count = length < 4 ? 0 : std::min(length - 4, avail) / 12;
            for (uint64_t i = 0; i < count && i < kMaxPartitions; ++i) {
                const uint64_t offset = mxf::Be64(entries + i * 12 + 4);
                if (offset < static_cast<uint64_t>(size) - std::min<uint64_t>(static_cast<uint64_t>(size), _nRunIn))
                    _ripPositions.push_back(offset + _nRunIn);
            }
        }
    }
}

bool CMXFEssenceReader::FollowRandomIndex(uint64_t size)
{
    const uint64_t headerPosition = _partitions.front()->nPosition;
    uint64_t last = headerPosition;
    for (uint64_t position : _ripPositions) {
        // Positions must go forwards through the file; others are not followed.
        if (position == headerPosition)
            continue;
        if (position <= last || position >= size) {
            theLogManager.LogTo(_szLogName, "(CMXFEssenceReader::Open) partition position %llu out of order",
                                static_cast<unsigned long long>(position));
            continue;
        }
        std::unique_ptr<CMXFPartition> partition;
        if (ReadPartitionAt(position, &partition) != 0) {
            _partitions.resize(1);
            return false;
        }
        _partitions.push_back(std::move(partition));
        last = position;
    }
    for (size_t i = 0; i < _partitions.size(); ++i)
        _partitions[i]->nEnd = i + 1 < _partitions.size() ? _partitions[i + 1]->nPosition : size;
    return true;
}

bool CMXFEssenceReader::FollowFooterChain(uint64_t size)
{
    CMXFPartition& header = *_partitions.front();
    std::vector<std::unique_ptr<CMXFPartition>> backwards;
    uint64_t position = header.nFooter;
    // Each step must move towards the header, so the chain cannot loop.
    while (position > header.nPosition && backwards.size() < kMaxPartitions) {
        std::unique_ptr<CMXFPartition> partition;
        if (ReadPartitionAt(position, &partition) != 0)
            return false;
        const uint64_t previous = partition->nPrevious;
        backwards.push_back(std::move(partition));
        if (previous >= position) {
            theLogManager.LogTo(_szLogName,
                                "(CMXFEssenceReader::Open) partition at %llu names %llu as its previous one",
                                static_cast<unsigned long long>(position), static_cast<unsigned long long>(previous));
            break;
        }
        position = previous;
    }
    uint64_t end = size;
    for (auto& partition : backwards) {
        partition->nEnd = end;
        end = partition->nPosition;
    }
    header.nEnd = end;
    for (auto it = backwards.rbegin(); it != backwards.rend(); ++it)
        _partitions.push_back(std::move(*it));
    return true;
}

bool CMXFEssenceReader::PeekKey(uint64_t position, uint8_t* key, uint64_t* length, uint32_t* headerSize)
{
    uint8_t head[25];
    uint64_t reached = position;
    uint32_t got = 0;
    uint32_t berSize = 0;
    if (!_pSource || _pSource->Seek(&reached) != 0 || reached != position ||
        _pSource->Read(head, sizeof head, &got) != 0 || got < 17 ||
        !mxf::ParseBerLength(head + 16, head + got, length, &berSize))
        return false;
    std::memcpy(key, head, 16);
    *headerSize = 16 + berSize;
    return true;
}

void CMXFEssenceReader::ScanPartitionsForwards(uint64_t size)
{
    // Only the keys and lengths are read, straight from the source, so that a long clip costs one small read
    // per KLV; the buffer is put back in step at the end.
    uint64_t at = _partitions.front()->EssenceStart();
    while (at < size && _partitions.size() < kMaxPartitions) {
        uint8_t key[16];
        uint64_t length = 0;
        uint32_t head = 0;
        if (!PeekKey(at, key, &length, &head) || mxf::Matches(key, mxf::kRandomIndexPack, 16))
            break;
        if (mxf::Matches(key, mxf::kPartitionPrefix, 13) && key[13] >= 2 && key[13] <= 4) {
            std::unique_ptr<CMXFPartition> partition;
            if (ReadPartitionAt(at, &partition) != 0)
                break;  // a pack or index the cut went through
            at = partition->EssenceStart();
            _partitions.push_back(std::move(partition));
            continue;
        }
        // A KLV the end of the file cuts through ends the walk.
        if (head > size - at || length > size - at - head)
            break;
        at += head + length;
    }
    for (size_t i = 0; i < _partitions.size(); ++i)
        _partitions[i]->nEnd = i + 1 < _partitions.size() ? _partitions[i + 1]->nPosition : size;
    Seek(_partitions.front()->nPosition);
}

int32_t CMXFEssenceReader::ReadPartitions()
{
    CMXFPartition& header = *_partitions.front();
    const int64_t signedSize = FileSize();
    const uint64_t size = signedSize < 0 ? std::numeric_limits<uint64_t>::max() : static_cast<uint64_t>(signedSize);
    // A file cut short in transfer may have lost part of its footer or random index pack, though no essence:
    // what cannot be read there counts as absent, and the partitions are found from the header forwards.
    if (!_ripPositions.empty()) {
        if (FollowRandomIndex(size))
            return 0;
        theLogManager.LogTo(_szLogName,
                            "(CMXFEssenceReader::Open) a partition of the random index pack cannot be "
                            "read: partitions are found from the header");
    } else if (header.nFooter > header.nPosition && header.nFooter < size) {
        if (FollowFooterChain(size))
            return 0;
        theLogManager.LogTo(_szLogName,
                            "(CMXFEssenceReader::Open) the footer partition at %llu cannot be read: "
                            "partitions are found from the header",
                            static_cast<unsigned long long>(header.nFooter));
    }
    if (header.nOpPattern == 0x0102)
        return kNoPackage;
    // Without footer, a header partition that holds essence reaches to the end of the file (a clip still being
    // written): only when the essence lies in body partitions, or the footer is unreadable, are they looked for.
    const bool atom = header.nOpPattern == 0x0210 || header.nOpPattern == 0x0310;
    if (header.nFooter == 0 && header.nBodySID != 0 && !atom) {
        header.nEnd = size;
        return 0;
    }
    ScanPartitionsForwards(size);
    if (atom && _partitions.size() < 2)
        return kNoBodyPartition;
    return 0;
}

CMXFComponent* CMXFEssenceReader::FindComponent(const uint8_t* uid)
{
    for (auto& component : _components)
        if (std::memcmp(component->uid.data(), uid, 16) == 0)
            return component.get();
    return nullptr;
}

int32_t CMXFEssenceReader::ParseHeaderMetadata(const uint8_t* begin, const uint8_t* end)
{
    mxf::Klv klv;
    auto forEachSet = [&](uint8_t type, auto op) {
        const uint8_t* p = begin;
        while (mxf::ParseKlv(p, end, &klv)) {
            if (mxf::IsSet(klv.pKey, type))
                if (!op(klv.pValue, klv.nLength))
                    return;
            p += klv.nTotal;
        }
    };
    auto uidOf = [](const uint8_t* value, uint64_t length, MXFUid* uid) {
        bool found = false;
        mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
            if (tag == 0x3C0A && size >= 16) {
                std::memcpy(uid->data(), v, 16);
                found = true;
                return false;
            }
            return true;
        });
        return found;
    };

    bool havePackage = false;
    forEachSet(mxf::kMaterialPackage, [&](const uint8_t* value, uint64_t length) {
        _pPackage = std::make_unique<CMXFPackage>();
        mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
            if (tag == 0x3C0A && size >= 16)
                std::memcpy(_pPackage->uid.data(), v, 16);
            if (tag == 0x4403)
                mxf::ForEachBatchItem(v, size, 16, [&](const uint8_t* uid) {
                    if (_pPackage->tracks.size() >= kMaxComponents)
                        return;
                    auto track = std::make_unique<CMXFTrack>();
                    std::memcpy(track->uid.data(), uid, 16);
                    _pPackage->tracks.push_back(std::move(track));
                });
            return true;
        });
        havePackage = true;
        return false;
    });
    if (!havePackage)
        return kNoPackage;

    forEachSet(mxf::kTrack, [&](const uint8_t* value, uint64_t length) {
        MXFUid uid;
        if (!uidOf(value, length, &uid))
            return true;
        for (auto& track : _pPackage->tracks) {
            if (track->uid != uid)
                continue;
            mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
                if (tag == 0x4803 && size >= 16) {
                    std::memcpy(track->sequenceRef.data(), v, 16);
                    track->bHasSequenceRef = true;
                } else if (tag == 0x4B01 && size >= 8) {
                    const uint32_t num = mxf::Be32(v);
                    const uint32_t den = mxf::Be32(v + 4);
                    track->dEditRate = den != 0 ? static_cast<double>(num) / den : -1.0;
                }
                return true;
            });
        }
        return true;
    });

    forEachSet(mxf::kSequence, [&](const uint8_t* value, uint64_t length) {
        MXFUid uid;
        if (!uidOf(value, length, &uid))
            return true;
        for (auto& track : _pPackage->tracks) {
            if (!track->bHasSequenceRef || track->sequenceRef != uid || track->pSequence)
                continue;
            track->pSequence = std::make_unique<CMXFSequence>();
            CMXFSequence* sequence = track->pSequence.get();
            sequence->uid = uid;
            sequence->pTrack = track.get();
            _sequences.push_back(sequence);
            mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
                if (tag == 0x1001)
                    mxf::ForEachBatchItem(v, size, 16, [&](const uint8_t* component) {
                        if (_components.size() >= kMaxComponents)
                            return;
                        auto c = std::make_unique<CMXFComponent>();
                        std::memcpy(c->uid.data(), component, 16);
                        c->pSequence = sequence;
                        sequence->components.push_back(c.get());
                        _components.push_back(std::move(c));
                    });
                return true;
            });
        }
        return true;
    });

    // The data definition is tag 02 01 as writers store it; 01 02 is taken too.
    forEachSet(mxf::kTimecodeComponent, [&](const uint8_t* value, uint64_t length) {
        MXFUid uid;
        CMXFComponent* component = uidOf(value, length, &uid) ? FindComponent(uid.data()) : nullptr;
        if (!component)
            return true;
        mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
            if (tag == 0x0202 && size >= 8)
                component->nDuration = mxf::Be64(v);
            else if ((tag == 0x0201 || tag == 0x0102) && size >= 16)
                component->nKind = KindOf(v, false);
            else if (tag == 0x1501 && size >= 8)
                component->nStart = mxf::Be64(v);
            return true;
        });
        return false;
    });

    forEachSet(mxf::kSourceClip, [&](const uint8_t* value, uint64_t length) {
        MXFUid uid;
        if (!uidOf(value, length, &uid))
            return true;
        CMXFComponent* component = FindComponent(uid.data());
        mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
            if (component) {
                if (tag == 0x0202 && size >= 8)
                    component->nDuration = mxf::Be64(v);
                else if ((tag == 0x0201 || tag == 0x0102) && size >= 16)
                    component->nKind = KindOf(v, true);
                else if (tag == 0x1101 && size >= 32)
                    std::memcpy(component->sourcePackage.data(), v, 32);
            } else if (tag == 0x1201 && size >= 8 && !_components.empty() &&
                       static_cast<int64_t>(_components.front()->nStart) <= 0) {
                _components.front()->nStart = mxf::Be64(v);
            }
            return true;
        });
        return true;
    });

    forEachSet(mxf::kEssenceContainerData, [&](const uint8_t* value, uint64_t length) {
        MXFUmid linked{};
        bool hasLinked = false;
        bool hasSid = false;
        uint32_t sid = 0;
        mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
            if (tag == 0x2701 && size >= 32) {
                std::memcpy(linked.data(), v, 32);
                hasLinked = true;
            } else if (tag == 0x3F07 && size >= 4) {
                sid = mxf::Be32(v);
                hasSid = true;
            }
            return true;
        });
        if (hasLinked && hasSid)
            for (auto& component : _components)
                if (component->sourcePackage == linked)
                    component->nBodySID = sid;
        return true;
    });
    return 0;
}

int32_t CMXFEssenceReader::ReadHeaderMetadata()
{
    auto readFrom = [&](CMXFPartition& partition) -> int32_t {
        if (Seek(partition.nHeaderStart) != 0 || !GrowBuffer(partition.nHeaderByteCount) ||
            !Ensure(static_cast<uint32_t>(partition.nHeaderByteCount)))
            return kDoesNotFit;
        _pPackage.reset();
        _sequences.clear();
        _components.clear();
        return ParseHeaderMetadata(_pCursor, _pCursor + partition.nHeaderByteCount);
    };
    int32_t result = kNoPackage;
    for (auto& partition : _partitions) {
        if (partition->IsClosed() && partition->nHeaderByteCount != 0) {
            result = readFrom(*partition);
            break;
        }
    }
    CMXFPartition& header = *_partitions.front();
    if ((!_pPackage || _pPackage->tracks.empty()) && header.nHeaderByteCount != 0)
        result = readFrom(header);
    return result;
}

void CMXFEssenceReader::TakePictureAndTimecode()
{
    const uint16_t op = _partitions.front()->nOpPattern;
    auto takeDuration = [&](size_t i) {
        uint64_t duration = _components[i]->nDuration;
        for (size_t j = i + 1; duration == ~uint64_t{0} && j < _components.size(); ++j)
            if (_components[j]->nDuration != ~uint64_t{0})
                duration = _components[j]->nDuration;
        _nDuration = static_cast<int64_t>(duration);
        const CMXFSequence* sequence = _components[i]->pSequence;
        if (sequence && sequence->pTrack)
            _dEditRate = sequence->pTrack->dEditRate;
    };
    for (size_t i = 0; i < _components.size(); ++i) {
        const CMXFComponent& c = *_components[i];
        if (IsPictureKind(c.nKind)) {
            takeDuration(i);
            const int64_t start = static_cast<int64_t>(c.nStart);
            if (start > 0)
                _nStart = start;
            else if (start < 0)
                _nStart = 0;
            if (c.nKind != 2)
                break;
        } else if (c.nKind == 1) {
            if (static_cast<int64_t>(c.nStart) > 0)
                _nStart = static_cast<int64_t>(c.nStart);
            if (op == 0x0101 || op == 0x0102 || op == 0x0140) {
                takeDuration(i);
                break;
            }
        }
    }
}

int32_t CMXFEssenceReader::FormSegments()
{
    const uint16_t op = _partitions.front()->nOpPattern;
    const bool atom = op == 0x0210 || op == 0x0310;
    double trackRate = -1.0;
    for (auto& track : _pPackage->tracks) {
        const CMXFSequence* sequence = track->pSequence.get();
        if (!sequence || sequence->components.empty())
            continue;
        if (sequence->components.front()->nBodySID < 0 && !atom)
            continue;
        int64_t first = 0;
        for (const CMXFComponent* c : sequence->components) {
            const int64_t duration = static_cast<int64_t>(c->nDuration);
            if (c->nBodySID >= 0) {
                for (auto& partition : _partitions) {
                    if (static_cast<int64_t>(partition->nBodySID) != c->nBodySID)
                        continue;
                    _segments.push_back({partition->EssenceStart(), first, duration, partition.get()});
                    break;
                }
            }
            // A component without a known length adds nothing.
            if (duration > 0 && first <= std::numeric_limits<int64_t>::max() - duration)
                first += duration;
        }
        if (!_segments.empty()) {
            trackRate = track->dEditRate;
            break;
        }
    }
    if (_segments.empty())
        return kNoSegment;
    int64_t summed = 0;
    for (const auto& segment : _segments)
        if (segment.nDuration > 0 && summed <= std::numeric_limits<int64_t>::max() - segment.nDuration)
            summed += segment.nDuration;
    // A one-track file counts its length in the track's own units (48000 for sound); the reader counts in its
    // edit rate.
    int64_t converted = summed;
    double reader = 0.0;
    double track = 0.0;
    int64_t h = 0;
    if (op == 0x0310 && TruncateRate(trackRate, &track, &h) && TruncateRate(_dEditRate, &reader, &h) &&
        track != reader) {
        // Rates far apart scale a hostile length past any integer: the result is bounded to what a file can hold.
        const double scaled = static_cast<double>(summed) / trackRate * _dEditRate;
        converted = static_cast<int64_t>(std::clamp(scaled, 0.0, kMaxScaledDuration));
    }
    if (_nDuration <= 0) {
        _nDuration = op == 0x0310 ? converted : summed;
    } else if (op == 0x0310) {
        const int64_t old = _nDuration;
        _nDuration = converted;
        const int64_t shift = old - converted;
        if ((shift > 0 && _nStart > std::numeric_limits<int64_t>::max() - shift) ||
            (shift < 0 && _nStart < std::numeric_limits<int64_t>::min() - shift))
            _nStart = shift > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
        else
            _nStart += shift;
    }
    return 0;
}

int32_t CMXFEssenceReader::ReadDescriptors()
{
    CMXFEssenceSegment& segment = _segments.front();
    _nSegment = 0;
    if (!segment.pPartition)
        return kNoEssencePartition;
    CMXFPartition* source = segment.pPartition->nHeaderByteCount != 0 ? segment.pPartition : HeaderPartition();
    const uint64_t count = source->nHeaderByteCount;
    if (count != 0) {
        if (Seek(source->nHeaderStart) != 0 || !GrowBuffer(count) || !Ensure(static_cast<uint32_t>(count)))
            return kDoesNotFit;
        const uint8_t* p = _pCursor;
        const uint8_t* end = _pCursor + count;
        mxf::Klv klv;
        while (end - p > 16 && mxf::ParseKlv(p, end, &klv)) {
            if (mxf::IsPictureDescriptor(klv.pKey)) {
                OnPictureDescriptor(klv.pValue, klv.nLength);
            } else if (mxf::IsSoundDescriptor(klv.pKey)) {
                OnSoundDescriptor(klv.pValue, klv.nLength);
            } else if (mxf::IsSet(klv.pKey, mxf::kPrivateEditUnitSet)) {
                static const uint8_t kTag[4] = {0xFF, 0xF1, 0x00, 0x04};
                for (uint64_t i = 0; i + 8 <= klv.nLength; ++i)
                    if (mxf::Matches(klv.pValue + i, kTag, 4)) {
                        _nPrivateEditUnitSize = mxf::Be32(klv.pValue + i + 4);
                        break;
                    }
            }
            p += klv.nTotal;
        }
    }
    if (Seek(segment.nEssenceStart) != 0)
        return kNoEssencePartition;
    _nEditUnitSize = HeaderPartition()->nEditUnitByteCount;
    if (_nEditUnitSize == 0)
        _nEditUnitSize = segment.pPartition->nEditUnitByteCount;
    for (size_t i = 0; _nEditUnitSize == 0 && i < _partitions.size(); ++i)
        _nEditUnitSize = _partitions[i]->nEditUnitByteCount;
    if (_nEditUnitSize == 0)
        _nEditUnitSize = _nPrivateEditUnitSize;
    _nSegmentStart = segment.nEssenceStart;
    return 0;
}

void CMXFEssenceReader::DeriveSystem()
{
    double rate = 25.0;
    int64_t hundredths = 2500;
    if (!TruncateRate(_dEditRate, &rate, &hundredths)) {
        rate = 25.0;
        hundredths = 2500;
    }
    _dEditRate = rate;
    double systemRate = rate;
    for (const auto& c : _components) {
        if (c->nKind != 2)
            continue;
        double trackRate = 0.0;
        int64_t trackHundredths = 0;
        if (c->pSequence && c->pSequence->pTrack &&
            TruncateRate(c->pSequence->pTrack->dEditRate, &trackRate, &trackHundredths)) {
            systemRate = trackRate;
            hundredths = trackHundredths;
        }
        break;
    }
    static const struct {
        int64_t nHundredths;
        uint8_t nSystem;
        uint32_t nFields;
    } kSystems[] = {{2397, 1, 2}, {2400, 2, 2}, {2500, 3, 2}, {2997, 4, 2},
                    {3000, 5, 2}, {5000, 6, 1}, {5994, 7, 1}, {6000, 8, 1}};
    _nTcSystem = 0;
    _nFieldsPerEditUnit = 2;
    for (const auto& s : kSystems)
        if (s.nHundredths == hundredths) {
            _nTcSystem = s.nSystem;
            _nFieldsPerEditUnit = s.nFields;
        }
    _dFieldRate = _nFieldsPerEditUnit * systemRate;
}

int32_t CMXFEssenceReader::Open(uint32_t)
{
    Reset();
    if (!_pSource)
        return kNotSupported;
    if (Seek(0) != 0)
        return kTooShort;
    int32_t result = FindHeaderPartition();
    if (result == 0 && (!Ensure(16) || _pCursor[15] != 0))
        result = kBadHeaderKey;
    if (result == 0) {
        _partitions.push_back(std::make_unique<CMXFPartition>());
        CMXFPartition& header = *_partitions.front();
        result = ReadPartitionPack(header);
        if (result == 0)
            result = ReadIndexSegments(header);
        if (result == 0 && header.nFooter <= header.nThis)
            FindFooter(header);
    }
    if (result == 0)
        result = ReadPartitions();
    if (result == 0)
        result = ReadHeaderMetadata();
    if (result == 0) {
        TakePictureAndTimecode();
        result = FormSegments();
        // Starts and lengths beyond any real clip are cut, so that sums of them stay in range.
        _nStart = std::clamp<int64_t>(_nStart, 0, kMaxEditUnits);
        _nDuration = std::clamp<int64_t>(_nDuration, -1, kMaxEditUnits);
    }
    if (result == 0)
        result = ReadDescriptors();
    if (result != 0) {
        theLogManager.LogTo(_szLogName, "(CMXFEssenceReader::Open) result=%d", result);
        return result;
    }
    DeriveSystem();
    _bOpened = true;
    return 0;
}

// --- descriptors ---

bool CMXFEssenceReader::ParsePictureDescriptor(const uint8_t* value, uint64_t length, uint8_t tcSystem, VideoInfo* info)
{
    if (!value || !info)
        return false;
    VideoType type = Unknown_Video;
    uint8_t aspect = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    mxf::ForEachLocalTag(value, length, [&](uint16_t tag, const uint8_t* v, uint32_t size) {
        if (tag == 0x320E && size >= 8) {
            aspect = v[3] == 4 && v[7] == 3 ? 2 : 3;
        } else if (tag == 0x3208 && size >= 4) {
            height = mxf::Be32(v);
        } else if (tag == 0x3209 && size >= 4) {
            width = mxf::Be32(v);
        } else if (tag == 0x3201 && size >= 16) {
            if (mxf::Matches(v, mxf::kImxCodingPrefix, 15)) {
                // An unknown variant is taken for 50 Mb/s.
                const imx::Rate* rate = imx::FindByCodingVariant(v[15]);
                const int megabits = rate ? rate->nMegabits : 50;
                type = megabits == 30 ? IMX30_Video : megabits == 40 ? IMX40_Video : IMX50_Video;
            } else if (mxf::Matches(v, mxf::kDvCodingPrefix, 14))
                type = DV25_Video;
            else if (mxf::Matches(v, mxf::kDvcProCodingPrefix, 14))
                type = v[14] == 1 || v[14] == 2   ? DVCPro25_Video
                       : v[14] == 3 || v[14] == 4 ? DVCPro50_Video
                                                  : DVCPro100_Video;
            else if (mxf::Matches(v, mxf::kDvContainerPrefix, 14))
                type = v[14] == 3 || v[14] == 4         ? DV25_Video
                       : v[14] == 0x40 || v[14] == 0x41 ? DVCPro25_Video
                       : v[14] == 0x50 || v[14] == 0x51 ? DVCPro50_Video
                                                        : DVCPro100_Video;
            else if (mxf::Matches(v, mxf::kHydrelCodingLabel, 16))
                type = Hydrel_Video;
        }
        return !(type != Unknown_Video && aspect != 0 && width != 0 && height != 0);
    });
    info->nVideoType = type;
    info->nAspect = aspect;
    info->nWidth = width;
    info->bProgressive = tcSystem >= 6;
    info->nHeight = info->bProgressive ? height : height * 2;
    if (type == DVCPro100_Video || type == DVCPro720P_Video || type == Hydrel_Video)
        info->nStandard = info->nHeight >= 1080 ? 4 : 3;
    else
        info->nStandard = info->nHeight >= 576 ? 2 : 1;
    return true;
}
