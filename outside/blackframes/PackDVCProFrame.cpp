// Build-time tool: a DIF frame (DVCPRO 50 or HD) into the server's packed layout.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "serverblock/CKorvoDVCProHelper.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <frame.dif> <packed>\n", argv[0]);
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<uint8_t> frame((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CKorvoDVCProHelper helper;
    uint32_t size = 0;
    if (frame.empty() || !helper.InitFromDVCProFrame(frame.data(), static_cast<uint32_t>(frame.size())) ||
        !helper.ConvertFromDVCPro(frame.data(), static_cast<uint32_t>(frame.size()))) {
        std::fprintf(stderr, "%s: not a DVCPRO frame the server takes\n", argv[1]);
        return 1;
    }
    const uint8_t* packed = helper.GetPackedFrame(&size);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(packed), size);
    return out ? 0 : 1;
}
