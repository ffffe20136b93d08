#pragma once

#include <cstdint>

// Version header written in front of a serialised object.
struct TaggedVersion {
    uint16_t nMajor = 0;
    uint16_t nMinor = 0;
};

// A stream that objects serialise themselves to, either as tagged values or in a compact form; the encoding is the
// implementation's own.
class CTaggedStream
{
public:
    static constexpr int kTagged = 0;
    static constexpr int kCompact = 1;
    static constexpr int kEndOfObject = 14;

    virtual ~CTaggedStream() = default;

    // kTagged or kCompact; any other value is an error.
    virtual int OpenTag(uint32_t tag) = 0;
    // kTagged with the next tag, kCompact, kEndOfObject, or an error.
    virtual int NextTag(uint32_t& tag) = 0;

    virtual int Read16(uint16_t& value) = 0;
    virtual int Read32(uint32_t& value) = 0;
    virtual int Read64(uint64_t& value) = 0;
    virtual int Write16(uint16_t value) = 0;
    virtual int Write32(uint32_t value) = 0;
    virtual int Write64(uint64_t value) = 0;

    virtual int ReadVersion(TaggedVersion& version) = 0;
    virtual int WriteVersion(const TaggedVersion& version) = 0;
};
