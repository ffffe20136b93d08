#pragma once

#include <memory>
#include <vector>

#include "outside/qo/Generic/ContainerBuffer.h"
#include "outside/qo/Generic/ContainerIF.h"
#include "outside/tolvenc/CContainerModel.h"
#include "outside/tolvenc/CMobs.h"

namespace tolvenc
{

// An opened container: its contents, the buffer it came from and the mobs it has lent out.
class CContainer final : public Qo::Generic::ContainerIF
{
public:
    CContainer(std::unique_ptr<ContainerModel> model, Qo::Generic::ContainerBuffer* buffer, bool writable);
    ~CContainer() override;

    int32_t GetKind() override { return _model->kind; }
    std::vector<Qo::Generic::MobID> GetMasterMobIDs() override;
    std::vector<Qo::Generic::MobID> GetCompositionMobIDs(bool topLevelOnly) override;
    std::vector<Qo::Generic::MobID> GetMobIDs(Qo::Generic::MobID kind) override;
    Qo::Generic::MobIF* CreateMob(int32_t kind) override;
    Qo::Generic::MobIF* OpenMob(Qo::Generic::MobID id) override;
    void ReleaseMob(Qo::Generic::MobIF* mob) override;

    // Writes the contents into the buffer when the container was opened for writing.
    bool WriteBack();

private:
    Qo::Generic::MobIF* Lend(MobData& data);

    std::unique_ptr<ContainerModel> _model;
    Qo::Generic::ContainerBuffer* _buffer;
    bool _bWritable;
    std::vector<std::unique_ptr<COpenedMob>> _opened;
};

}  // namespace tolvenc
