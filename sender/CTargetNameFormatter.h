#pragma once

#include <ctime>
#include <string>

// The base name of a played-out clip file from the target's format string: "%NAME", "%BDATE", "%BYEAR", "%BMONTH",
// "%BDAY", "%OWNER", "%SEQUENCENAME" and "%TAPEID" (any case) are replaced, the rest stays literal, and the
// characters Windows forbids in a file name become '_'. An empty result gives "Korvo ".
std::string CParvex_Filename_Formater(const std::string& name, const std::string& owner, const std::string& sequence,
                                      const std::string& tapeId, const std::string& format);
// The same on a given local date.
std::string CParvex_Filename_Formater(const std::string& name, const std::string& owner, const std::string& sequence,
                                      const std::string& tapeId, const std::string& format, const std::tm& date);

// Replaces each character Windows forbids in a file name (\ / : * ? " < > |) by the replacement.
std::string ReplaceForbiddenNameChars(std::string text, char replacement);
