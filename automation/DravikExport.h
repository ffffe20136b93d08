#pragma once

// The classes client programs use are exported from libDravik.so; everything else stays hidden.
#define DRAVIK_API __attribute__((visibility("default")))
// Private helpers of exported classes, kept out of the library's exports.
#define DRAVIK_HIDDEN __attribute__((visibility("hidden")))
