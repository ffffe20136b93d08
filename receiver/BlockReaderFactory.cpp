#include "receiver/BlockReaderFactory.h"

#include "receiver/CKorvoBlockFileReader.h"
#include "receiver/CKorvoBlockRixFTPReader.h"
#include "receiver/CKorvoBlockTCPReader.h"

std::unique_ptr<CKorvoBlockReader> MakeBlockReader(const std::string& sourceKind, uint32_t blockSize, int32_t instance,
                                                   uint32_t firstServerField)
{
    if (sourceKind == "TCP")
        return std::make_unique<CKorvoBlockTCPReader>(blockSize);
    if (sourceKind == "RixFTP")
        return std::make_unique<CKorvoBlockRixFTPReader>(instance, firstServerField);
    return std::make_unique<CKorvoBlockFileReader>();
}
