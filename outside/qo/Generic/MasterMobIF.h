#pragma once

#include "outside/qo/Generic/MobIF.h"

namespace Qo::Generic
{

class Filelist;

// The mob of a clip as the editing system holds it: its trim points, tape and file list.
class QO_GENERIC_API MasterMobIF : public MobIF
{
public:
    // Trim points in frames from the start of the media; the out point is the first frame not taken.
    virtual int32_t GetInPoint() = 0;
    virtual int32_t GetOutPoint() = 0;
    virtual void SetTrim(int32_t in, int32_t out) = 0;
    virtual void GetTapeID(std::string& tapeId) = 0;
    virtual void SetTapeID(const char* tapeId) = 0;
    // The file list, lent until it is handed back; null when the mob has none.
    virtual Filelist* GetFilelist() = 0;
    virtual void ReleaseFilelist(Filelist* filelist) = 0;
    virtual void SetFilelist(const Filelist& filelist) = 0;

protected:
    ~MasterMobIF() override;
};

}  // namespace Qo::Generic
