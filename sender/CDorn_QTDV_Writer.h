#pragma once

#include <string>

#include "sender/CDornMediaWriter.h"

class CQTDVWriter;

// Writes the played-out clip as a self-contained QuickTime DV movie.
class CDorn_QTDV_Writer : public CDornMediaWriter
{
public:
    CDorn_QTDV_Writer(const char* louthIdMain, const char* varIdMain, const char* louthIdBackup,
                      const char* varIdBackup);
    ~CDorn_QTDV_Writer() override;

    int Open(const char* path, uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits, int one,
             CTimeCode start, int64_t duration) override;
    int AddPicture(const DornFrame* frame) override;
    int AddAudio(int channel, const DornFrame* frame) override;
    void GetLouthIdMain(std::string& out) const override { out = _szLouthIdMain; }
    void GetVarIdMain(std::string& out) const override { out = _szVarIdMain; }
    void GetLouthIdBackup(std::string& out) const override { out = _szLouthIdBackup; }
    void GetVarIdBackup(std::string& out) const override { out = _szVarIdBackup; }

private:
    CQTDVWriter* _pMovie = nullptr;  // the media writer, while open
    std::string _szLouthIdMain, _szVarIdMain, _szLouthIdBackup, _szVarIdBackup;
};
