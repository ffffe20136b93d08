#pragma once

#include <string>

// The sender's fallback settings file "Dornsend.ini", section "Config": looked up beside the plug-in, then in the
// Windows folder ("C:\Windows", through the drive mapping). A missing file, section or key gives the default; a
// value is cut to 255 characters as the 256-byte buffer of the original reader did.
std::string DornsendIniValue(const std::string& key, const std::string& defaultValue);
