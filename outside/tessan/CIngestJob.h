#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "outside/qo/Generic/MobIF.h"

namespace tessan
{

// An ingest job document as the browser hands it over, and the composition the receiver is opened
// on: the master mob's attributes, duration, trim points, video standard and file list.
class CIngestJob
{
public:
    // Reads the job text ("<?xml>" and bare ampersands accepted); false with a reason in Error().
    bool Parse(const std::string& text);
    bool Load(const std::string& path);
    const std::string& Error() const { return _strError; }

    // A value of the job: a child of the root or of "private"; empty when absent.
    std::string Value(const std::string& name) const;
    bool Has(const std::string& name) const;

    // Forces a live (still recording) clip.
    void SetLive(bool live) { _bLive = live; }
    bool IsLive() const;

    // The receiver attributes of the master mob, in the job's order.
    std::vector<Qo::Generic::Attribute> Attributes() const;
    int32_t FramesPerSecond() const { return _nFps; }
    bool DropFrame() const { return _bDrop; }
    int32_t Duration() const { return _nDuration; }
    int32_t TrimIn() const { return _nTrimIn; }
    int32_t TrimOut() const { return _nTrimOut; }
    int32_t VideoStandard() const;
    int32_t AudioTracks() const { return _nAudios; }
    std::vector<int32_t> Tracks() const;
    // The timecode of the first frame taken: the clip's own, also where the job's marks count from its start.
    Qo::Generic::TimeCode StartTimeCode() const;
    // The compressor name of the job's pictures ("Mirel::MPEG2::50", "Mirel::DVCPRO::50", ...).
    std::string VideoCompression() const;
    // The name shown for the clip.
    std::string ClipName() const;

    // The composition as a container document; empty with a reason in Error() on failure.
    std::string MakeComposition();

private:
    bool Fail(const std::string& reason);
    bool Check();
    // Frames since midnight of a timecode text in the job's rate; -1 when it is no timecode.
    int64_t Frames(const std::string& text) const;

    struct Item {
        std::string name;
        std::string value;
    };
    std::vector<Item> _items;
    std::string _strError;
    bool _bLive = false;
    int32_t _nFps = 25;
    bool _bDrop = false;
    int32_t _nAudios = 0;
    int32_t _nDuration = 0;
    int32_t _nTrimIn = 0;
    int32_t _nTrimOut = 0;
    int64_t _nStartFrame = 0;  // frames since midnight
};

}  // namespace tessan
