#pragma once

#include <cstdint>
#include <string>

// Every user setting of the browser with its default, kept under the user key of the registry. Reading follows
// the start-up rules: a missing key is created with only the folder and the setup library name; in an existing
// key the values so marked get their default written when missing. Each change is written at once, and only when
// the key opens.
class CValdrinSettings
{
public:
    static constexpr const char* kKey = "SOFTWARE\\Brennhall\\Valdrin";
    static constexpr const char* kVersion = "01.09.00";

    // Reads every value (start-up); true when the key existed.
    bool Load();

    // The toggles of the menu: flip the flag and write it as 0 or 1. Both items of a pair flip the same flag.
    void ToggleMxfOnly() { WriteFlag("MXF Only", _bMxfOnly = !_bMxfOnly); }
    void ToggleTcpTransfer() { WriteFlag("TCP Transfer", _bTcpTransfer = !_bTcpTransfer); }
    void ToggleOmf() { WriteFlag("OMF File", _bOmf = !_bOmf); }
    void ToggleTrimClip() { WriteFlag("Trim Clip", _bTrimClip = !_bTrimClip); }
    void Toggle24BitsAudio() { WriteFlag("24 bits Audio", _b24BitsAudio = !_b24BitsAudio); }
    void ToggleOnTop() { WriteFlag("On Top", _bOnTop = !_bOnTop); }
    void ToggleTardix() { WriteFlag("Tardix", _bTardix = !_bTardix); }

    void SetTargetHost(const std::string& host);
    void SetTrimGuardBand(int32_t fields);
    // The folder of the listing, written back on every change.
    void SetCurrentFolder(const std::string& folder);
    void SetUseRix(bool on);
    void SetRixServer(const std::string& address, const std::string& port, const std::string& user,
                      const std::string& password);

    std::string _szCurrentFolder = "C:\\";
    std::string _szSetupDll = "KorvoSetup";
    std::string _szTargetHost = "Mirel";
    std::string _szRixAddress = "127.0.0.1";
    std::string _szRixPort = "21";
    std::string _szRixUser = "Korvo";
    std::string _szRixPass = "wqt";
    bool _bUseRix = false;
    bool _bDropFtpXml = true;
    bool _bMxfOnly = false;
    bool _bTcpTransfer = false;
    bool _bOmf = false;
    bool _bTrimClip = false;
    bool _b24BitsAudio = false;
    bool _bTardix = true;
    int32_t _nTrimGuardBand = 0;
    bool _bOnTop = false;

private:
    void WriteFlag(const char* name, bool on);
    void WriteDword(const char* name, uint32_t value);
    void WriteString(const char* name, const std::string& value);
};

// The main window's remembered place, in the profile section "MainW" of the same key.
struct CWindowPlacement {
    static constexpr const char* kSection = "SOFTWARE\\Brennhall\\Valdrin\\MainW";

    int32_t _nX = 0;
    int32_t _nY = 0;
    int32_t _nWidth = 640;
    int32_t _nHeight = 480;

    // Reads the place; a left edge outside 0..1500 or a top edge outside 0..1000 becomes 0.
    static CWindowPlacement Load();
    // Writes the window rectangle as left, top, width and height.
    static void Save(int32_t left, int32_t top, int32_t right, int32_t bottom);
};
