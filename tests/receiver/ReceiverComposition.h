#pragma once
// Compositions for the receiver's tests: a master mob with the receiver attributes, made through libTolvenc.so as
// the transfer service makes them.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"

namespace receivertest
{

struct Composition {
    std::vector<Qo::Generic::Attribute> attributes;
    std::vector<int32_t> tracks = {0, 1, 2};
    int32_t duration = 10;
    int32_t trimIn = 0;
    int32_t trimOut = 10;
    int32_t videoStandard = Qo::Generic::kVideoStandard25Hz;
    int32_t masters = 1;

    // Replaces or adds a "_USER" attribute; an empty value removes it.
    Composition& User(const std::string& name, const std::string& value)
    {
        std::erase_if(attributes, [&](const auto& a) { return a.category == "_USER" && a.name == name; });
        if (!value.empty())
            attributes.push_back({"_USER", name, value});
        return *this;
    }
};

// A composition of a 25 frames/s IMX 50 clip file with two audio tracks.
inline Composition FileClip(const std::string& dir = "/media/clips", const std::string& clip = "CLIP.KRV")
{
    Composition c;
    c.attributes = {{"_USER", "QO_KORVO_NAUDIOS", "2"},      {"_USER", "QO_KORVO_RATE", "50"},
                    {"_USER", "QO_KORVO_FILETYPE", "Korvo"}, {"_USER", "QO_KORVO_DATATYPE", "IMX"},
                    {"_USER", "QO_KORVO_NAUDIOBITS", "24"},  {"_USER", "QO_KORVO_BLOCKSIZE", "8"},
                    {"_USER", "QO_KORVO_DIRNAME", dir},      {"_USER", "QO_KORVO_CLIPNAME", clip},
                    {"_USER", "QO_KORVO_TARDIX", "0"}};
    return c;
}

// A composition held in a container buffer of the helper library, as the service hands it to Open.
class CompositionBuffer
{
public:
    explicit CompositionBuffer(const Composition& c)
        : _helper(Qo::Generic::CreateHelper(Qo::Generic::kContainerAAF), &Qo::Generic::DeleteHelper)
    {
        _buffer = _helper->NewContainerBuffer(0, 0);
        Qo::Generic::ContainerIF* container = _helper->OpenNewContainer(_buffer, 0, 3);
        EXPECT_NE(container, nullptr);
        if (!container)
            return;
        Qo::Generic::Filelist files(c.tracks, Qo::Generic::TimeCode(25, false, 10, 0, 0, 0), "CLIP",
                                    Qo::Generic::TapeMobIF::TapeVitals(), "Mirel::MPEG2::50", "PCM", 25);
        for (const auto& a : c.attributes)
            files.SetSubATTR(a.category.c_str(), a.name.c_str(), a.value.c_str());
        for (int32_t i = 0; i < c.masters; ++i)
            EXPECT_TRUE(files.PutIntoFile(container));
        for (const Qo::Generic::MobID& id : container->GetMasterMobIDs()) {
            auto* master = dynamic_cast<Qo::Generic::MasterMobIF*>(container->OpenMob(id));
            if (!master) {
                ADD_FAILURE() << "no master mob";
                continue;
            }
            master->SetDuration(c.duration);
            master->SetTrim(c.trimIn, c.trimOut);
            master->SetVideoStandard(c.videoStandard);
            container->ReleaseMob(master);
        }
        EXPECT_TRUE(_helper->ReturnContainer(container));
    }

    Qo::Generic::ContainerBuffer* Get() const { return _buffer; }

private:
    std::unique_ptr<Qo::Generic::HelperIF, void (*)(Qo::Generic::HelperIF*)> _helper;
    Qo::Generic::ContainerBuffer* _buffer = nullptr;
};

}  // namespace receivertest
