#pragma once
// The block writer set up as a server records SD: one picture element per field (video format 1), 720 wide.

#include <cstdint>

#include "writers/parvex/KorvoMXFBlockWriter.h"

namespace receivertest
{

// Standard 3 is 625 lines at 25 Hz, any other 525 lines at 29.97 Hz; audio in groups of four channels.
inline void ConfigureSdWriter(KorvoMXFBlockWriter& writer, uint32_t standard, uint32_t audioGroups)
{
    writer.SetStandard(standard);
    writer.SetVideoSystem(standard == 3 ? 2 : 1);
    writer.SetAspectRatio(2);
    writer.SetProgressive(false);
    writer.SetFormatFlag(false);
    writer.SetDualLink(false);
    writer.SetSimultaneousMode(false);
    writer.SetVideoFormat(1);
    writer.SetAudioFormat(1);
    writer.SetTableHeaderByte(0);
    writer.SetVideoChannelCount(1);
    writer.SetAudioGroupCount(audioGroups);
    writer.SetTwoFields(false);
}

}  // namespace receivertest
