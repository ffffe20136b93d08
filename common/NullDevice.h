#pragma once

#include <string>

// Whether the path names the null device ("\\.\nul" in any case, or "/dev/null").
bool IsNullDevicePath(const std::string& path);
