#pragma once

#include <cstddef>
#include <cstdint>

// Index of a timecode system in CTimeCode's table (0 to 9; 0 stands for no system).
using TcSystem = uint32_t;

// A position within a day counted in video fields of one timecode system.
class CTimeCode
{
public:
    static constexpr uint32_t kSystemCount = 10;
    static constexpr uint32_t kInvalidCount = 0xFFFFFFFF;
    // Longest text: "Field-NTSC No Drop 828.23:59:59:59*" (day wrapping off) and its terminator.
    static constexpr size_t kTextSize = 36;

    CTimeCode();
    CTimeCode(uint16_t hours, uint16_t minutes, uint16_t seconds, uint16_t frames, bool oddField, TcSystem system,
              int32_t hundredths = -1);
    CTimeCode(uint32_t fields, TcSystem system, int32_t hundredths = -1);
    CTimeCode(const CTimeCode& other);
    CTimeCode& operator=(const CTimeCode& other);
    virtual ~CTimeCode();

    static void SetDayWrapping(bool on);

    // Refuses an index of 10 or more and keeps the value.
    bool SetSystem(TcSystem system);
    void SetHMSF(uint16_t hours, uint16_t minutes, uint16_t seconds, uint16_t frames);
    int GetDHMSF(uint16_t& days, uint16_t& hours, uint16_t& minutes, uint16_t& seconds, uint16_t& frames) const;
    int GetHMSF(uint16_t& hours, uint16_t& minutes, uint16_t& seconds, uint16_t& frames) const;

    uint32_t GetFrameRate() const;
    uint32_t GetFieldsPerFrame() const;
    // True for the systems counted with drop-frame labels (NTSC Drop, Field-NTSC Drop).
    bool IsDropFrame() const;
    static uint32_t GetSystemFieldsPerFrame(TcSystem system);
    static double GetFieldDuration(TcSystem system);
    double GetSeconds() const;
    static CTimeCode FromSeconds(double seconds, TcSystem system, bool withHundredths);
    static CTimeCode FromMilliseconds(double milliseconds, TcSystem system, bool withHundredths = false);
    uint32_t GetFrameCount() const;
    bool IsSecondField() const;

    CTimeCode& NextFrame();
    CTimeCode& operator++() { return NextFrame(); }
    bool operator==(const CTimeCode& other) const;
    bool operator!=(const CTimeCode& other) const { return !(*this == other); }

    // Writes at most size characters, terminator included, and returns buffer.
    char* Format(char* buffer, size_t size, uint32_t code) const;
    const char* ToString(uint32_t code);
    // Writes the 25-bit time code of an MPEG-2 group-of-pictures header into bytes 0 to 3, keeping the low 7 bits of
    // byte 3.
    uint8_t* ToMpegGopTimeCode(uint8_t* buffer) const;

private:
    void SetCount(uint64_t fields, TcSystem system);
    void SetHundredths(int32_t hundredths);
    void MakeInvalid();

    uint32_t _nFields;
    int32_t _nHundredths;
    TcSystem _nSystem;
    bool _bHasHundredths;
    char _szText[kTextSize];
};
