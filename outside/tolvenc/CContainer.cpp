#include "outside/tolvenc/CContainer.h"

#include <algorithm>
#include <set>

#include "outside/qo/Generic/Playlist.h"

namespace tolvenc
{

using Qo::Generic::MobID;

CContainer::CContainer(std::unique_ptr<ContainerModel> model, Qo::Generic::ContainerBuffer* buffer, bool writable)
    : _model(std::move(model)), _buffer(buffer), _bWritable(writable)
{
}

CContainer::~CContainer() = default;

std::vector<MobID> CContainer::GetMasterMobIDs()
{
    return GetMobIDs(MobID(Qo::Generic::kMasterMob));
}

std::vector<MobID> CContainer::GetCompositionMobIDs(bool topLevelOnly)
{
    std::vector<MobID> ids = GetMobIDs(MobID(Qo::Generic::kCompositionMob));
    if (!topLevelOnly)
        return ids;
    // A composition that another one plays is not top level.
    std::vector<MobID> used;
    for (const auto& mob : _model->mobs) {
        if (!mob->hasPlaylist)
            continue;
        Qo::Generic::Playlist playlist = mob->playlist;
        for (int32_t number : playlist.GetTrackList()) {
            Qo::Generic::Track* track = nullptr;
            playlist.GetTrack(number, track);
            for (int32_t i = 0; Qo::Generic::Segment* segment = track->GetNthSegment(i); ++i)
                used.push_back(segment->GetFileMobID());
        }
    }
    std::erase_if(ids, [&used](const MobID& id) { return std::find(used.begin(), used.end(), id) != used.end(); });
    return ids;
}

std::vector<MobID> CContainer::GetMobIDs(MobID kind)
{
    std::vector<MobID> ids;
    for (const auto& mob : _model->mobs)
        if (kind.GetDataType() == Qo::Generic::kAnyMob || mob->kind == kind.GetDataType())
            ids.push_back(mob->id);
    return ids;
}

Qo::Generic::MobIF* CContainer::CreateMob(int32_t kind)
{
    MobData* data = _model->AddMob(kind);
    return data ? Lend(*data) : nullptr;
}

Qo::Generic::MobIF* CContainer::OpenMob(MobID id)
{
    MobData* data = _model->FindMob(id);
    return data ? Lend(*data) : nullptr;
}

Qo::Generic::MobIF* CContainer::Lend(MobData& data)
{
    std::unique_ptr<COpenedMob> mob = MakeMob(data, this);
    if (!mob)
        return nullptr;
    _opened.push_back(std::move(mob));
    return _opened.back()->Mob();
}

void CContainer::ReleaseMob(Qo::Generic::MobIF* mob)
{
    auto it = std::find_if(_opened.begin(), _opened.end(), [mob](const auto& p) { return p->Mob() == mob; });
    if (it != _opened.end())
        _opened.erase(it);
}

bool CContainer::WriteBack()
{
    if (!_bWritable || !_buffer)
        return true;
    std::string text = _model->Serialise();
    return _buffer->SetData(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
}

}  // namespace tolvenc
