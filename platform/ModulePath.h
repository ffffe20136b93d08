#pragma once

#include <filesystem>

namespace platform
{

// The file of the loaded program or library that holds address (a function of its own); empty when unknown.
std::filesystem::path ModuleFileOf(const void* address);

}  // namespace platform
