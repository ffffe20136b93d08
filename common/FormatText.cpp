#include "common/FormatText.h"

#include <cstdio>

std::string FormatTextV(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    int n = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (n <= 0)
        return {};
    std::string text(static_cast<size_t>(n), '\0');
    vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = FormatTextV(format, args);
    va_end(args);
    return text;
}
