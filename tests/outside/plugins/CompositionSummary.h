#pragma once
// One line per mob of a container, as both the test program and the libraries it loads see it, so
// that the two readings can be compared.

#include <sstream>
#include <string>
#include <vector>

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/qo/Generic/MediaDescriptor.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/qo/Generic/TapeMobIF.h"

namespace outsidetest
{

inline std::string TimeCodeText(const Qo::Generic::TimeCode& tc)
{
    std::ostringstream out;
    out << tc.rate << (tc.drop ? "D" : "N") << tc.hours << ":" << tc.minutes << ":" << tc.seconds << ":" << tc.frames;
    return out.str();
}

// The run-time kind of a mob, found by type tests only.
inline std::string KindOf(Qo::Generic::MobIF* mob)
{
    if (dynamic_cast<Qo::Generic::MasterMobIF*>(mob))
        return "master";
    if (dynamic_cast<Qo::Generic::CompositionMobIF*>(mob))
        return "composition";
    if (dynamic_cast<Qo::Generic::FileMobIF*>(mob))
        return "file";
    if (dynamic_cast<Qo::Generic::TapeMobIF*>(mob))
        return "tape";
    return "unknown";
}

inline std::string SummariseMob(Qo::Generic::MobIF* mob)
{
    std::ostringstream out;
    std::string text;
    mob->GetName(text);
    Qo::Generic::TimeCode start;
    mob->GetStartTimeCode(start);
    out << KindOf(mob) << " name=" << text << " dur=" << mob->GetDuration() << " std=" << mob->GetVideoStandard()
        << " start=" << TimeCodeText(start);
    for (const Qo::Generic::Attribute& a : mob->GetAttributeList())
        out << " [" << a.category << "|" << a.name << "=" << a.value << "]";
    if (auto* master = dynamic_cast<Qo::Generic::MasterMobIF*>(mob)) {
        master->GetTapeID(text);
        out << " trim=" << master->GetInPoint() << "-" << master->GetOutPoint() << " tape=" << text;
        if (Qo::Generic::Filelist* list = master->GetFilelist()) {
            out << " filelist=";
            for (int32_t t : list->GetTrackList())
                out << t << ",";
            out << " video=" << list->GetVideoCompression() << " audio=" << list->GetAudioCompression()
                << " rate=" << list->GetRate() << " ftape=" << list->GetTapeName()
                << " fstart=" << TimeCodeText(list->GetStartTimeCode());
            master->ReleaseFilelist(list);
        }
    }
    if (auto* composition = dynamic_cast<Qo::Generic::CompositionMobIF*>(mob)) {
        composition->GetTapeID(text);
        out << " tape=" << text << " compressors=";
        std::vector<std::string> names;
        composition->GetCompressorNames(names);
        for (const std::string& n : names)
            out << n << ",";
        if (Qo::Generic::Playlist* playlist = composition->GetPlaylist(0)) {
            for (int32_t number : playlist->GetTrackList()) {
                Qo::Generic::Track* track = nullptr;
                playlist->GetTrack(number, track);
                out << " track" << number << ":";
                for (int32_t i = 0; Qo::Generic::Segment* s = track->GetNthSegment(i); ++i)
                    out << s->GetFileMobID().GetUID().minor << "/" << s->GetLength() << ",";
            }
        }
    }
    if (auto* file = dynamic_cast<Qo::Generic::FileMobIF*>(mob)) {
        out << " path=" << file->GetMediaPath();
        if (auto* sound = dynamic_cast<Qo::Generic::SoundDescriptor*>(file->GetMediaDescriptor()))
            out << " sound=" << sound->GetSampleWidth();
    }
    if (auto* tape = dynamic_cast<Qo::Generic::TapeMobIF*>(mob)) {
        Qo::Generic::TapeMobIF::TapeVitals vitals;
        tape->GetTapeVitals(vitals);
        out << " vitals=" << TimeCodeText(vitals.GetTimeCode());
    }
    return out.str();
}

inline std::string SummariseContainer(Qo::Generic::ContainerIF* container)
{
    std::string text;
    for (const Qo::Generic::MobID& id : container->GetMobIDs(Qo::Generic::MobID(Qo::Generic::kAnyMob))) {
        Qo::Generic::MobIF* mob = container->OpenMob(id);
        text += mob ? SummariseMob(mob) : std::string("unopened");
        text += "\n";
        container->ReleaseMob(mob);
    }
    return text;
}

}  // namespace outsidetest
