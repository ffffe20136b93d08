#pragma once

#include <cstdarg>
#include <string>

// printf-style formatting into a string, for messages that go to more than one log.
std::string FormatTextV(const char* format, va_list args);
__attribute__((format(printf, 1, 2))) std::string FormatText(const char* format, ...);
