#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

// Walks the header metadata of an MXF header partition held in memory and overwrites the items whose
// local tag is in the patch table. Every length read from the buffer is checked against the buffer and
// against the table: an item whose length differs from the table value's is refused, not overwritten.
class CMxfHeaderPatcher
{
public:
    static constexpr size_t kKeySize = 16;

    virtual ~CMxfHeaderPatcher() = default;

    void ClearPatches() { _patches.clear(); }
    void SetPatch(uint16_t tag, std::vector<uint8_t> value) { _patches[tag] = std::move(value); }

    // Walks from the partition pack at the buffer's start. On success *end is the position right after the
    // header metadata. false (with the reason in LastError) when the buffer does not hold what it claims.
    bool Walk(uint8_t* buffer, size_t size, size_t* end);
    const char* LastError() const { return _error; }

    // A KLV at position: key, value start and value length, all inside size. false when it is not whole.
    static bool ParseKlv(const uint8_t* buffer, size_t size, size_t position, size_t* valueStart,
                         uint64_t* valueLength);
    // The value of a local-set item, or null; *length gets its length.
    static uint8_t* FindItem(uint8_t* value, size_t length, uint16_t tag, size_t* itemLength);

protected:
    // Called for each local set before its items are patched; false refuses the header.
    virtual bool OnLocalSet(const uint8_t* key, uint8_t* value, size_t length) = 0;
    bool Fail(const char* error)
    {
        _error = error;
        return false;
    }

private:
    std::map<uint16_t, std::vector<uint8_t>> _patches;
    const char* _error = "";
};
