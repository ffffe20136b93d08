#pragma once

// Settings, fault hooks and journal entries of the video server simulator.

#include <cstdint>
#include <string>
#include <vector>

namespace rixsim
{

// Byte order of the simulator's RPC replies. Little is the client's own order; Big makes the reply's magic
// arrive as the bytes 0x42 0x48 and every number big-endian.
enum class RixSimByteOrder { Little, Big };

// Welcome variants of the FTP service.
enum class RixSimWelcomeStyle {
    Standard,     // "220 Korvo FTP Server (v) 7.07 B: 8"
    NoBlockSize,  // the same line without "B: "
    Block2,       // "... B: 2"
    MultiLine,    // two "220-" lines, then the standard line as the final "220 " line
    None,         // nothing is sent; the client's wait for a welcome runs out
};

std::vector<std::string> RixSimWelcome(RixSimWelcomeStyle eStyle);

struct RixSimConfig {
    std::string _szBindAddress = "127.0.0.1";
    uint16_t _nFtpPort = 0;  // 0: the system chooses; read it back with CRixSimServer::FtpPort
    uint16_t _nGbePort = 0;
    bool _bGbe = true;  // serve the gigabit-Ethernet protocol on its own port
    std::vector<std::string> _vWelcome = RixSimWelcome(RixSimWelcomeStyle::Standard);
    std::string _szUser;                   // empty: any user name and password log in
    std::string _szPassword;               // checked only when _szUser is set
    uint32_t _nDataTimeoutMs = 5000;       // wait for a passive data connection, or for an active connect
    uint32_t _nStoreBlockSize = 0x800000;  // block size of ".CLP" and ".TRN" files uploaded with STOR/APPE
    RixSimByteOrder _eRpcOrder = RixSimByteOrder::Little;
    // Field-to-timecode answers: stamp ticks = _nTcBaseTicks + field x ticks per field of _nTcSystem (0, 1, 2).
    uint32_t _nTcSystem = 0;
    uint64_t _nTcBaseTicks = 0;
    uint32_t _nTcKind = 0;
    std::string _szGbeWelcome = "Welcome to the Rix gateway";
};

enum class RixSimFaultKind {
    Delay,           // the reply goes out after _nDelayMs
    Omit,            // no reply at all
    Split,           // the reply goes out in two sends, the first _nSplitAt bytes, then the rest after _nDelayMs
    Coalesce,        // the reply is held back and goes out in one send with the next reply
    Busy,            // FTP: the command is refused with _nCode ("450 File busy") instead of being carried out
    DropConnection,  // the connection is closed on receipt of the command, without a reply
    CutData,         // FTP transfer: the data connection is closed after _nAfterBytes bytes ("426" follows)
    StallData,       // FTP transfer: the data stops after _nAfterBytes bytes, until ABOR or for _nDelayMs (0: for good)
    Length,          // RPC: the reply is cut or zero-padded to _nLength bytes; GbE: the header's length field
                     // becomes _nLength
    BadMagic,        // RPC: the reply's magic is 0x1234
    WrongRequestId,  // RPC and GbE: the reply carries the request id plus one
    WrongFunction,   // RPC: the reply carries the function id plus one
    ReturnCode,      // RPC: the reply's return code is _nCode
    ErrorReply,      // GbE: an error reply (type 3) with code _nCode instead of the answer
};

// A fault fires on the commands whose verb equals _szCommand: an FTP verb ("RETR", "SITE GNFN", "ABOR"),
// "RPC <function id>" ("RPC 3"), "GBE <command>" ("GBE 2") or "GBE WELCOME" for the gateway's first message.
struct RixSimFault {
    std::string _szCommand;
    RixSimFaultKind _eKind = RixSimFaultKind::Delay;
    int32_t _nTimes = 1;  // how many commands it fires on; -1: every one
    uint32_t _nDelayMs = 50;
    uint32_t _nSplitAt = 1;
    uint64_t _nAfterBytes = 0;
    int32_t _nCode = 450;
    uint32_t _nLength = 0;
};

// One command received: channel "FTP" (the command line without CR LF), "RPC" ("RPC <fn> id=<id> <order>
// <payload as hex>") or "GBE" ("GBE <command> id=<id> ..."); sessions are numbered from 1 per channel.
struct RixSimJournalEntry {
    std::string _szChannel;
    uint32_t _nSession = 0;
    std::string _szText;
};

}  // namespace rixsim
