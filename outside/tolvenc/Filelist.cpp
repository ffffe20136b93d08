#include "outside/qo/Generic/Filelist.h"

#include "outside/qo/Generic/ContainerIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/MasterMobIF.h"

namespace Qo::Generic
{

Filelist::Filelist() = default;

Filelist::Filelist(const std::vector<int32_t>& tracks, const TimeCode& start, const char* tapeName,
                   const TapeMobIF::TapeVitals& vitals, const char* videoCompression, const char* audioCompression,
                   int32_t rate)
    : _tracks(tracks),
      _start(start),
      _strTapeName(tapeName ? tapeName : ""),
      _vitals(vitals),
      _strVideoCompression(videoCompression ? videoCompression : ""),
      _strAudioCompression(audioCompression ? audioCompression : ""),
      _nRate(rate)
{
}

Filelist::~Filelist() = default;

void Filelist::SetSubATTR(const char* category, const char* name, const char* value)
{
    std::string cat = category ? category : "";
    std::string key = name ? name : "";
    for (Attribute& attribute : _subAttributes) {
        if (attribute.category == cat && attribute.name == key) {
            attribute.value = value ? value : "";
            return;
        }
    }
    _subAttributes.push_back({cat, key, value ? value : ""});
}

bool Filelist::PutIntoFile(ContainerIF* container) const
{
    if (!container)
        return false;
    MobIF* mob = container->CreateMob(kMasterMob);
    auto* master = dynamic_cast<MasterMobIF*>(mob);
    if (!master) {
        if (mob)
            container->ReleaseMob(mob);
        return false;
    }
    master->SetName(_strTapeName.c_str());
    master->SetTapeID(_strTapeName.c_str());
    master->SetStartTimeCode(_start);
    master->SetVideoStandard(_nRate == 30 || _nRate == 60 ? kVideoStandard2997Hz : kVideoStandard25Hz);
    master->SetFilelist(*this);
    for (const Attribute& attribute : _subAttributes)
        master->SetAttribute(attribute.category.c_str(), attribute.name.c_str(), attribute.value.c_str());
    container->ReleaseMob(master);

    for (int32_t track : _tracks) {
        MobIF* fileMob = container->CreateMob(kFileMob);
        if (!fileMob)
            return false;
        std::string name = _strTapeName + (track == 0 ? ".V" : ".A" + std::to_string(track));
        fileMob->SetName(name.c_str());
        fileMob->SetStartTimeCode(_start);
        container->ReleaseMob(fileMob);
    }
    return true;
}

}  // namespace Qo::Generic
