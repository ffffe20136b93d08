#pragma once

// The helper library's classes keep default visibility even in modules built with hidden visibility,
// so that their type information is the one of libTolvenc.so and run-time type tests and catches
// work across the loaded libraries.
#define QO_GENERIC_API __attribute__((visibility("default")))
