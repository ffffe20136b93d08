#pragma once

#include <string>

#include "sender/CDornMediaWriter.h"

// Writes the played-out clip as an OP1a IMX (D-10) MXF file.
class CDorn_Op1a_Writer : public CDornMediaWriter
{
public:
    CDorn_Op1a_Writer() = default;
    ~CDorn_Op1a_Writer() override;

    int Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int one,
             CTimeCode start, int64_t duration) override;
    int AddPicture(const DornFrame* frame) override;
    int AddAudio(int channel, const DornFrame* frame) override;

    // The folder of the IMX sample files; empty (the default) takes the installation's.
    void SetSampleFolder(const std::string& folder) { _szSampleFolder = folder; }

private:
    int Begin();

    std::string _szSampleFolder;
    bool _bBegun = false;
};
