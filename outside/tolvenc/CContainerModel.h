#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/MobIF.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/qo/Generic/TapeMobIF.h"

namespace tolvenc
{

// Everything a mob of any kind holds; the mob objects handed out are views on it.
struct MobData {
    int32_t kind = Qo::Generic::kMasterMob;
    Qo::Generic::MobID id;
    std::string name;
    int32_t duration = 0;
    int32_t videoStandard = 0;
    Qo::Generic::TimeCode start;
    int32_t trimIn = 0;
    int32_t trimOut = 0;
    std::string tapeId;
    std::string mediaPath;
    std::vector<Qo::Generic::Attribute> attributes;
    std::vector<std::string> compressors;
    Qo::Generic::TapeMobIF::TapeVitals vitals;
    int32_t sampleWidth = 0;  // a sound file mob when above 0
    bool hasFilelist = false;
    Qo::Generic::Filelist filelist;
    bool hasPlaylist = false;
    Qo::Generic::Playlist playlist;

    void SetAttribute(const std::string& category, const std::string& name, const std::string& value);
    bool GetAttribute(const std::string& category, const std::string& name, std::string& value) const;
};

// A container's contents: its kind and its mobs in the order they were made.
struct ContainerModel {
    int32_t kind = 0;
    std::vector<std::unique_ptr<MobData>> mobs;

    MobData* AddMob(int32_t mobKind);
    MobData* FindMob(const Qo::Generic::MobID& id) const;

    // The XML document of the container, and back; Parse gives null and a reason for bytes that
    // hold no container.
    std::string Serialise() const;
    static std::unique_ptr<ContainerModel> Parse(const uint8_t* data, size_t size, std::string& error);
};

// Kind names as the XML writes them; empty for an unknown kind.
const char* MobKindName(int32_t kind);

}  // namespace tolvenc
