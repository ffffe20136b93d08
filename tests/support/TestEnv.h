#pragma once

#include <filesystem>

namespace testsupport
{
// The per-process temp folder that holds the test's registry ("registry"), drive root ("drives"),
// runtime folder ("run") and plug-in folder ("lib"); removed when the program ends.
const std::filesystem::path& TestRoot();
}  // namespace testsupport
