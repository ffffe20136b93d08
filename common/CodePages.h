#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>

// Code-page conversion of byte strings. Pages are numbered as on Windows: 0 the ANSI page (CP1252),
// 65001 UTF-8. Wide strings are UTF-16.

// True when every byte is below 128 (true for the empty string).
bool IsAscii(const std::string& text);

// The UTF-8 form of a wide string.
std::string WideToUtf8(const std::u16string& text);

// The text converted from one page to another through UTF-16; a copy when the pages are equal.
// Characters the target cannot hold become '?'; an unknown page gives an empty string.
std::string ConvertCodePage(const std::string& text, uint32_t sourcePage, uint32_t targetPage);

// UTF-8 to the ANSI page.
std::string Utf8ToAnsi(const std::string& text);

// Holds one block from the C heap; releasing frees it and clears the pointer.
struct CHeapBlock {
    void* _pBlock = nullptr;

    CHeapBlock() = default;
    explicit CHeapBlock(void* block) : _pBlock(block) {}
    ~CHeapBlock() { Release(); }
    CHeapBlock(const CHeapBlock&) = delete;
    CHeapBlock& operator=(const CHeapBlock&) = delete;
    void Release()
    {
        std::free(_pBlock);
        _pBlock = nullptr;
    }
};
