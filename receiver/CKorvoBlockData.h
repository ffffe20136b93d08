#pragma once

#include <cstdint>
#include <memory>

#include "serverblock/C2kBlockData.h"
#include "serverblock/CBavdBlockData.h"

// Results of CKorvoBlockData::SetBlockData.
constexpr int kBlockDataOk = 0;
constexpr int kBlockDataDamaged = 1;  // the block's own tables do not describe it; nothing of it may be used

// The receiver's view of one server block in memory: the fields it covers, each video element and each field's
// audio unit. Elements count per field (ElementsPerField of them make one field). Every position the block
// gives is checked against the block before it is handed out: a damaged block reads as empty, never outside.
class CKorvoBlockData
{
public:
    CKorvoBlockData() = default;
    virtual ~CKorvoBlockData() = default;
    CKorvoBlockData(const CKorvoBlockData&) = delete;
    CKorvoBlockData& operator=(const CKorvoBlockData&) = delete;

    // Reads the block's tables; kBlockDataOk, or kBlockDataDamaged and the object holds no block.
    virtual int SetBlockData(const uint8_t* address, uint32_t size) = 0;
    // Video element: its address and size; nullptr and size 0 when the block has no such element.
    virtual const uint8_t* GetVideo(int32_t element, int32_t* size) const;
    // The audio unit of the field with this index in the block; nullptr and size 0 when there is none.
    virtual const uint8_t* GetAudio(int32_t fieldIndex, int32_t* size) const;
    virtual const uint8_t* DataEnd() const { return nullptr; }
    // Never 0: callers divide by it.
    virtual uint32_t ElementsPerField() const { return 1; }
    virtual bool IsValid() const { return false; }
    // Progressive block: fields carry no parity of their own.
    virtual bool Flag() const { return false; }

    int32_t GetElementCount() const { return _nElementCount; }
    uint32_t GetFirstField() const { return _nFirstField; }
    uint32_t GetEndField() const { return _nEndField; }
    uint32_t GetBlockSize() const { return _nBlockSize; }
    const uint8_t* GetBlockAddress() const { return _pBlock; }
    // The clip's aspect code as the block records it: 2 4:3, 3 16:9; 0 when the block has none.
    uint32_t GetAspectCode() const { return _nAspectCode; }
    bool HasElement(int32_t element) const { return element >= 0 && element < _nElementCount; }
    // Sound tracks the block declares slots for (4 per audio group); a clip's first block speaks for the clip.
    int32_t GetAudioTrackSlots() const { return _nAudioTrackSlots; }

    // Forgets the block.
    void Clear();

protected:
    const uint8_t* _pBlock = nullptr;  // not owned
    int32_t _nElementCount = 0;
    uint32_t _nDataEnd = 0;
    uint32_t _nBlockSize = 0;
    uint32_t _nFirstField = 0;
    uint32_t _nEndField = 0;
    uint32_t _nAspectCode = 0;
    int32_t _nAudioTrackSlots = 0;
};

// A 2 MB block with its 2048-byte table at the end.
class CKorvo2kBlockData : public CKorvoBlockData
{
public:
    int SetBlockData(const uint8_t* address, uint32_t size) override;
    const uint8_t* GetVideo(int32_t element, int32_t* size) const override;
    const uint8_t* GetAudio(int32_t fieldIndex, int32_t* size) const override;
    const uint8_t* DataEnd() const override { return _pBlock ? _pBlock + _nDataEnd : nullptr; }
    uint32_t ElementsPerField() const override { return _nElementsPerField; }
    bool IsValid() const override { return _pBlock != nullptr && _nElementCount > 0; }
    bool Flag() const override { return _pBlock && _blockData.IsProgressive(); }

    // Bytes of one field's audio (all track slots).
    uint32_t GetAudioUnitSize() const { return _nAudioUnitSize; }

private:
    C2kBlockData _blockData;
    uint32_t _nElementsPerField = 1;
    uint32_t _nAudioUnitSize = 0;
};

// A BAVD block of 2 MB or 8 MB.
class CKorvo8MBlockData : public CKorvoBlockData
{
public:
    int SetBlockData(const uint8_t* address, uint32_t size) override;
    const uint8_t* GetVideo(int32_t element, int32_t* size) const override;
    const uint8_t* GetAudio(int32_t fieldIndex, int32_t* size) const override;
    const uint8_t* DataEnd() const override;
    uint32_t ElementsPerField() const override { return _nElementsPerField; }
    bool IsValid() const override { return _pBlock != nullptr && _pData && _pData->GetBavd().GetElemRecordCnt() > 0; }
    bool Flag() const override { return _pBlock && _pData && _pData->IsProgressive(); }

    uint32_t GetAudioUnitSize() const { return _nAudioUnitSize; }

private:
    std::unique_ptr<CBavdBlockData> _pData;  // made for the size of the blocks given
    uint32_t _nElementsPerField = 1;
    uint32_t _nAudioUnitSize = 0;
};

// Does the block begin with the BAVD marker? Tells the two layouts apart.
bool IsBavdBlock(const uint8_t* block, uint32_t size);
