// The frame reader for a receiver's media kinds.
#include <strings.h>

#include "receiver/CReceiverKorvoDVCProReader.h"
#include "receiver/CReceiverKorvoIMXReader.h"
#include "receiver/CReceiverKorvoVC3Reader.h"
#include "receiver/CReceiverOP1AReader.h"
#include "receiver/KorvoReceiver.h"

namespace
{
// True when value begins with keyword, whatever the case.
bool Names(const std::string& value, const char* keyword)
{
    return strncasecmp(value.c_str(), keyword, std::char_traits<char>::length(keyword)) == 0;
}
}  // namespace

std::unique_ptr<CReceiverFReader> KorvoReceiver::MakeFrameReader(const KorvoReceiverMedia& media)
{
    if (Names(media.strSourceKind, "MXF"))
        return std::make_unique<CReceiverOP1AReader>();
    if (Names(media.strDataKind, "IMX"))
        return std::make_unique<CReceiverKorvoIMXReader>(media.strSourceKind, media.nBlockSize, media.bHighFrameRate,
                                                         _nInstance, media.nFirstServerField);
    if (Names(media.strDataKind, "Hydrel"))
        return std::make_unique<CReceiverKorvoVC3Reader>(media.strSourceKind, media.nBlockSize, media.bHighFrameRate,
                                                         _nInstance, media.nFirstServerField);
    if (Names(media.strDataKind, "DVCPro"))
        return std::make_unique<CReceiverKorvoDVCProReader>(media.strSourceKind, media.nBlockSize, media.bHighFrameRate,
                                                            _nInstance, media.nFirstServerField);
    return nullptr;
}
