#include "common/CodePages.h"

#include "platform/CodePage.h"

bool IsAscii(const std::string& text)
{
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

std::string WideToUtf8(const std::u16string& text)
{
    std::string out;
    platform::FromUtf16(text, platform::kCodePageUtf8, out);
    return out;
}

std::string ConvertCodePage(const std::string& text, uint32_t sourcePage, uint32_t targetPage)
{
    if (sourcePage == targetPage)
        return text;
    std::u16string wide;
    std::string out;
    if (!platform::ToUtf16(text, sourcePage, wide) || !platform::FromUtf16(wide, targetPage, out))
        return {};
    return out;
}

std::string Utf8ToAnsi(const std::string& text)
{
    return ConvertCodePage(text, platform::kCodePageUtf8, platform::kCodePageAnsi);
}
