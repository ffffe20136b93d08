#include "outside/tolvenc/CMobs.h"

#include <algorithm>

namespace tolvenc
{

void CMasterMob::SetTrim(int32_t in, int32_t out)
{
    _data.trimIn = in;
    _data.trimOut = out;
}

Qo::Generic::Filelist* CMasterMob::GetFilelist()
{
    if (!_data.hasFilelist)
        return nullptr;
    _lent.push_back(std::make_unique<Qo::Generic::Filelist>(_data.filelist));
    return _lent.back().get();
}

void CMasterMob::ReleaseFilelist(Qo::Generic::Filelist* filelist)
{
    auto it = std::find_if(_lent.begin(), _lent.end(), [filelist](const auto& p) { return p.get() == filelist; });
    if (it != _lent.end())
        _lent.erase(it);
}

void CMasterMob::SetFilelist(const Qo::Generic::Filelist& filelist)
{
    _data.filelist = filelist;
    _data.hasFilelist = true;
}

Qo::Generic::Playlist* CCompositionMob::GetPlaylist(int32_t index)
{
    if (index != 0 || !_data.hasPlaylist)
        return nullptr;
    return &_data.playlist;
}

void CCompositionMob::SetPlaylist(const Qo::Generic::Playlist& playlist)
{
    _data.playlist = playlist;
    _data.hasPlaylist = true;
}

Qo::Generic::MediaDescriptor* CFileMob::GetMediaDescriptor()
{
    if (_data.sampleWidth > 0)
        _descriptor = std::make_unique<Qo::Generic::SoundDescriptor>(_data.sampleWidth);
    else
        _descriptor = std::make_unique<Qo::Generic::MediaDescriptor>();
    return _descriptor.get();
}

std::unique_ptr<COpenedMob> MakeMob(MobData& data, Qo::Generic::ContainerIF* container)
{
    switch (data.kind) {
        case Qo::Generic::kMasterMob:
            return std::make_unique<CMasterMob>(data, container);
        case Qo::Generic::kCompositionMob:
            return std::make_unique<CCompositionMob>(data, container);
        case Qo::Generic::kFileMob:
            return std::make_unique<CFileMob>(data, container);
        case Qo::Generic::kTapeMob:
            return std::make_unique<CTapeMob>(data, container);
        default:
            return nullptr;
    }
}

}  // namespace tolvenc
