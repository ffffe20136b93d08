#pragma once

#include <cstdint>
#include <string>

// A time-based (version 1) UUID as the writers store it: time_low (32), time_mid (16),
// time_hi_and_version (16), each little-endian, then clock_seq_hi_and_reserved, clock_seq_low and the node.
struct TimeUUID {
    uint8_t bytes[16];
};

// Fills the record. The last time stamp, node and clock sequence are kept in the state file "C:\state"
// (timestamp 8 bytes little-endian, node 6, clock sequence 2 little-endian) and the node in "C:\nodeid";
// both are read and written under a named mutex, and every time stamp handed out is above the stored one,
// so identifiers never repeat across threads, processes and restarts. False (the record zeroed) when the
// mutex could not be taken within the wait: a stamp reserved without it could repeat another process's.
[[nodiscard]] bool CreateTimeUUID(TimeUUID* out);

// How long a generator waits for the named mutex (5000 ms unless changed).
void SetTimeUUIDLockWait(uint32_t milliseconds);

// The 60-bit time stamp of a record (100 ns units since 1582-10-15).
uint64_t TimeUUIDTimestamp(const TimeUUID& uuid);
