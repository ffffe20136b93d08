#pragma once
// Makes a line of 8-bit 4:2:2 video (Cb Y Cr Y, 720 samples) carrying a VITC word, as a keyer puts it
// into the vertical interval: 90 bits of 7.5 samples, black 16, white 192, check byte for x^8 + 1.

#include <array>
#include <cstdint>
#include <vector>

namespace vitctest
{

constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 192;
constexpr double kSamplesPerBit = 7.5;

struct Timecode {
    uint32_t hours, minutes, seconds, frames;
    bool oddField;
};

// The 90 bits of the word, bit 0 sent first.
inline std::array<uint8_t, 90> VitcBits(const Timecode& tc)
{
    std::array<uint8_t, 90> bits{};
    for (int group = 0; group < 9; ++group)
        bits[10 * group] = 1;  // each group opens with the sync pair 1, 0
    auto put = [&](int first, int count, uint32_t value) {
        for (int i = 0; i < count; ++i)
            bits[first + i] = (value >> i) & 1;
    };
    put(2, 4, tc.frames % 10);
    put(12, 2, tc.frames / 10);
    put(22, 4, tc.seconds % 10);
    put(32, 3, tc.seconds / 10);
    put(42, 4, tc.minutes % 10);
    put(52, 3, tc.minutes / 10);
    put(62, 4, tc.hours % 10);
    put(72, 2, tc.hours / 10);
    bits[75] = tc.oddField ? 1 : 0;
    // Check bits: whatever makes the running x^8 + 1 remainder of all 90 bits zero.
    uint8_t crc = 0;
    for (int i = 0; i < 82; ++i)
        crc = static_cast<uint8_t>(((crc << 1) ^ bits[i]) ^ (crc >> 7));
    for (int j = 0; j < 8; ++j)
        bits[82 + j] = (crc >> (7 - j)) & 1;
    return bits;
}

// The line for the bits, the first bit starting at sample `start`. Sharp lines take each sample at its
// instant; soft ones average the signal over the sample (an edge in mid-sample gives a grey sample).
inline std::vector<uint8_t> VitcLine(const std::array<uint8_t, 90>& bits, double start, bool soft)
{
    constexpr int kSamples = 720;
    std::vector<uint8_t> line(2 * kSamples);
    auto level = [&](double t) {
        const double cell = (t - start) / kSamplesPerBit;
        if (cell < 0 || cell >= 90)
            return 0.0;
        return bits[static_cast<int>(cell)] ? 1.0 : 0.0;
    };
    for (int n = 0; n < kSamples; ++n) {
        double value = 0;
        if (soft) {
            constexpr int kSteps = 16;
            for (int j = 0; j < kSteps; ++j)
                value += level(n + (j + 0.5) / kSteps);
            value /= kSteps;
        } else {
            value = level(n);
        }
        line[2 * n] = 128;
        line[2 * n + 1] = static_cast<uint8_t>(kBlack + value * (kWhite - kBlack) + 0.5);
    }
    return line;
}

inline std::vector<uint8_t> VitcLine(const Timecode& tc, double start = 24, bool soft = false)
{
    return VitcLine(VitcBits(tc), start, soft);
}

}  // namespace vitctest
