#pragma once

#include <string>

// Where the side-car metadata file of a played-out clip file goes: beside the media file ("<base>.korvo.xml"), in
// an explicit folder, or at an explicit file path (one whose fourth character from the end is '.').
std::string SideCarPath(const std::string& explicitPath, const std::string& targetPath);

// Writes the side-car metadata file of the media file at targetPath when generate is set. Returns the path of the
// file written; empty when none was asked for or it could not be saved.
std::string CreateKorvo_METADATAS(bool generate, const std::string& explicitPath, const std::string& targetPath,
                                  const std::string& tapeId, const std::string& owner, const std::string& umid,
                                  const std::string& varId, const std::string& clipName);
