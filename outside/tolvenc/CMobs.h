#pragma once

#include <memory>
#include <string>
#include <vector>

#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/qo/Generic/MediaDescriptor.h"
#include "outside/qo/Generic/TapeMobIF.h"
#include "outside/tolvenc/CContainerModel.h"

namespace tolvenc
{

// What the container keeps of each mob it opened, so that it can delete it whatever its kind.
class COpenedMob
{
public:
    virtual ~COpenedMob() = default;
    virtual Qo::Generic::MobIF* Mob() = 0;
};

// The operations every mob kind shares, over the mob's data in its container.
template <class Interface>
class CMobBase : public Interface, public COpenedMob
{
public:
    CMobBase(MobData& data, Qo::Generic::ContainerIF* container) : _data(data), _container(container) {}
    ~CMobBase() override = default;

    Qo::Generic::MobIF* Mob() override { return this; }

    void GetName(std::string& name) override { name = _data.name; }
    void SetName(const char* name) override { _data.name = name ? name : ""; }
    Qo::Generic::MobID GetMobID() override { return _data.id; }
    int32_t GetDuration() override { return _data.duration; }
    void SetDuration(int32_t frames) override { _data.duration = frames; }
    int32_t GetVideoStandard() override { return _data.videoStandard; }
    void SetVideoStandard(int32_t standard) override { _data.videoStandard = standard; }
    void SetAttribute(const char* name, const char* value) override { SetAttribute("", name, value); }
    bool GetAttribute(const char* name, std::string& value) override { return GetAttribute("", name, value); }
    void SetAttribute(const char* category, const char* name, const char* value) override
    {
        _data.SetAttribute(category ? category : "", name ? name : "", value ? value : "");
    }
    bool GetAttribute(const char* category, const char* name, std::string& value) override
    {
        return _data.GetAttribute(category ? category : "", name ? name : "", value);
    }
    std::vector<Qo::Generic::Attribute> GetAttributeList() override { return _data.attributes; }
    void SetStartTimeCode(const Qo::Generic::TimeCode& start) override { _data.start = start; }
    void GetStartTimeCode(Qo::Generic::TimeCode& start) override { start = _data.start; }
    Qo::Generic::ContainerIF* GetContainer() override { return _container; }

protected:
    MobData& _data;
    Qo::Generic::ContainerIF* _container;
};

class CMasterMob final : public CMobBase<Qo::Generic::MasterMobIF>
{
public:
    using CMobBase::CMobBase;

    int32_t GetInPoint() override { return _data.trimIn; }
    int32_t GetOutPoint() override { return _data.trimOut; }
    void SetTrim(int32_t in, int32_t out) override;
    void GetTapeID(std::string& tapeId) override { tapeId = _data.tapeId; }
    void SetTapeID(const char* tapeId) override { _data.tapeId = tapeId ? tapeId : ""; }
    Qo::Generic::Filelist* GetFilelist() override;
    void ReleaseFilelist(Qo::Generic::Filelist* filelist) override;
    void SetFilelist(const Qo::Generic::Filelist& filelist) override;

private:
    std::vector<std::unique_ptr<Qo::Generic::Filelist>> _lent;
};

class CCompositionMob final : public CMobBase<Qo::Generic::CompositionMobIF>
{
public:
    using CMobBase::CMobBase;

    Qo::Generic::Playlist* GetPlaylist(int32_t index) override;
    void SetPlaylist(const Qo::Generic::Playlist& playlist) override;
    void GetTapeID(std::string& tapeId) override { tapeId = _data.tapeId; }
    void SetTapeID(const char* tapeId) override { _data.tapeId = tapeId ? tapeId : ""; }
    void GetCompressorNames(std::vector<std::string>& names) override { names = _data.compressors; }
    void AddCompressorName(const char* name) override { _data.compressors.emplace_back(name ? name : ""); }
};

class CFileMob final : public CMobBase<Qo::Generic::FileMobIF>
{
public:
    using CMobBase::CMobBase;

    Qo::Generic::MediaDescriptor* GetMediaDescriptor() override;
    void SetSampleWidth(int32_t bits) override { _data.sampleWidth = bits; }
    void SetMediaPath(const char* path) override { _data.mediaPath = path ? path : ""; }
    std::string GetMediaPath() override { return _data.mediaPath; }

private:
    std::unique_ptr<Qo::Generic::MediaDescriptor> _descriptor;
};

class CTapeMob final : public CMobBase<Qo::Generic::TapeMobIF>
{
public:
    using CMobBase::CMobBase;

    void GetTapeVitals(TapeVitals& vitals) override { vitals = _data.vitals; }
    void SetTapeVitals(const TapeVitals& vitals) override { _data.vitals = vitals; }
};

// The mob object of a kind over its data.
std::unique_ptr<COpenedMob> MakeMob(MobData& data, Qo::Generic::ContainerIF* container);

}  // namespace tolvenc
