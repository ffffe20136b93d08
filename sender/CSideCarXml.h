#pragma once

#include <string>

class CXmlDocument;

// Saves the document at the (Windows or local) path; false with the cause in *error, and no file left.
bool SaveWhole(CXmlDocument& doc, const std::string& path, std::string* error);

// Where the side-car metadata file of a played-out clip file goes: beside the media file ("<base>.korvo.xml"), in
// an explicit folder, or at an explicit file path (one whose fourth character from the end is '.').
std::string SideCarPath(const std::string& explicitPath, const std::string& targetPath);

// Writes the side-car metadata file of the media file at targetPath when generate is set. Returns the path of the
// file written; empty when none was asked for or it could not be saved, then with the cause in *error (a file
// that could not be saved whole is removed).
std::string CreateKorvo_METADATAS(bool generate, const std::string& explicitPath, const std::string& targetPath,
                                  const std::string& tapeId, const std::string& owner, const std::string& umid,
                                  const std::string& varId, const std::string& clipName, std::string* error = nullptr);
