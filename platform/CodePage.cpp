#include "platform/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <string>
#include <vector>

namespace platform
{

namespace
{

std::string IconvName(uint32_t codePage)
{
    switch (codePage) {
        case kCodePageAnsi:
            return "CP1252";
        case kCodePageOem:
            return "CP437";
        case kCodePageUtf8:
            return "UTF-8";
        case 1200:
            return "UTF-16LE";
        case 1201:
            return "UTF-16BE";
        case 20127:
            return "ASCII";
        case 28591:
            return "ISO-8859-1";
        default:
            return "CP" + std::to_string(codePage);
    }
}

class Converter
{
public:
    Converter(const std::string& to, const std::string& from) : _cd(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter()
    {
        if (Valid())
            iconv_close(_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return _cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t Get() const { return _cd; }

private:
    iconv_t _cd;
};

}  // namespace

bool ToUtf16(const std::string& in, uint32_t codePage, std::u16string& out)
{
    out.clear();
    std::string from = IconvName(codePage);
    Converter cv("UTF-16LE", from);
    if (!cv.Valid())
        return false;
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    std::vector<char16_t> buf(in.size() * 2 + 4);
    while (srcLeft > 0) {
        char* dst = reinterpret_cast<char*>(buf.data());
        size_t dstLeft = buf.size() * sizeof(char16_t);
        size_t rc = iconv(cv.Get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf.data(), (buf.size() * sizeof(char16_t) - dstLeft) / sizeof(char16_t));
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        // Invalid or truncated sequence. CP1252 leaves five bytes undefined; Windows maps them to the
        // control characters of the same value, so do the same, and replace anything else.
        unsigned char bad = static_cast<unsigned char>(*src);
        out += (from == "CP1252" && (bad == 0x81 || bad == 0x8D || bad == 0x8F || bad == 0x90 || bad == 0x9D))
                   ? static_cast<char16_t>(bad)
                   : u'\uFFFD';
        ++src;
        --srcLeft;
        iconv(cv.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

bool FromUtf16(const std::u16string& in, uint32_t codePage, std::string& out)
{
    out.clear();
    std::string to = IconvName(codePage);
    Converter cv(to, "UTF-16LE");
    if (!cv.Valid())
        return false;
    char* src = reinterpret_cast<char*>(const_cast<char16_t*>(in.data()));
    size_t srcLeft = in.size() * sizeof(char16_t);
    std::vector<char> buf(in.size() * 4 + 8);
    while (srcLeft > 0) {
        char* dst = buf.data();
        size_t dstLeft = buf.size();
        size_t rc = iconv(cv.Get(), &src, &srcLeft, &dst, &dstLeft);
        out.append(buf.data(), buf.size() - dstLeft);
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG)
            continue;
        // A character the page cannot hold (or a lone surrogate): the default character, then go on.
        char16_t c = *reinterpret_cast<char16_t*>(src);
        if (to == "CP1252" && (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D))
            out += static_cast<char>(c);
        else
            out += '?';
        size_t skip = (c >= 0xD800 && c <= 0xDBFF && srcLeft >= 4) ? 4 : 2;
        src += std::min(skip, srcLeft);
        srcLeft -= std::min(skip, srcLeft);
        iconv(cv.Get(), nullptr, nullptr, nullptr, nullptr);
    }
    return true;
}

}  // namespace platform
