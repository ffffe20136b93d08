#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "outside/qo/Generic/Export.h"
#include "outside/qo/Generic/MobIF.h"
#include "outside/qo/Generic/TapeMobIF.h"
#include "outside/qo/Generic/TimeCode.h"

namespace Qo::Generic
{

class ContainerIF;

// The files of a clip: its tracks (0 video, 1 to 8 audio), where they start, their tape and their
// compressors. PutIntoFile makes a master mob of it, with one file mob per track.
class QO_GENERIC_API Filelist
{
public:
    Filelist();
    Filelist(const std::vector<int32_t>& tracks, const TimeCode& start, const char* tapeName,
             const TapeMobIF::TapeVitals& vitals, const char* videoCompression, const char* audioCompression,
             int32_t rate);
    virtual ~Filelist();

    std::vector<int32_t> GetTrackList() const { return _tracks; }
    const TimeCode& GetStartTimeCode() const { return _start; }
    const std::string& GetTapeName() const { return _strTapeName; }
    const TapeMobIF::TapeVitals& GetTapeVitals() const { return _vitals; }
    const std::string& GetVideoCompression() const { return _strVideoCompression; }
    const std::string& GetAudioCompression() const { return _strAudioCompression; }
    int32_t GetRate() const { return _nRate; }

    // An attribute that PutIntoFile sets on the master mob.
    void SetSubATTR(const char* category, const char* name, const char* value);
    const std::vector<Attribute>& GetSubATTRs() const { return _subAttributes; }

    // Adds the master mob and its file mobs to a container; false when the container refuses.
    bool PutIntoFile(ContainerIF* container) const;

private:
    std::vector<int32_t> _tracks;
    TimeCode _start;
    std::string _strTapeName;
    TapeMobIF::TapeVitals _vitals;
    std::string _strVideoCompression;
    std::string _strAudioCompression;
    int32_t _nRate = 0;
    std::vector<Attribute> _subAttributes;
};

}  // namespace Qo::Generic
