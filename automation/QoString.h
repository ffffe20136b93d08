#pragma once

#include <string>

#include "automation/DravikExport.h"

namespace Qo
{

// The automation library's own string: texts cross the library's boundary in it. It owns one heap
// std::string; when that cannot be allocated the object reads as empty and changes are dropped.
class DRAVIK_API QoString
{
public:
    QoString();
    QoString(const char* s);
    QoString(const char* s, long start, long length);
    QoString(const std::string& s);
    explicit QoString(char c);
    QoString(const QoString& other);
    virtual ~QoString();

    QoString& operator=(const QoString& other);
    QoString& operator=(const char* s);
    QoString& operator=(const std::string& s);
    QoString& operator+=(const QoString& other);
    QoString& operator+=(const char* s);
    QoString& operator+=(const std::string& s);

    bool operator==(const QoString& other) const;
    bool operator==(const char* s) const;
    bool operator==(const std::string& s) const;
    bool operator!=(const QoString& other) const { return !(*this == other); }
    bool operator!=(const char* s) const { return !(*this == s); }
    bool operator!=(const std::string& s) const { return !(*this == s); }

    // The character at pos, or 0 outside the string.
    char operator[](long pos) const;

    long GetLength() const;
    bool IsEmpty() const;
    const char* ToCString() const;
    std::string* NewStdString() const;
    QoString& ToLowerCase();
    virtual void Clear();

    bool LcCompare(const QoString& other) const;
    bool LcCompare(const char* s) const;
    bool LcCompare(const std::string& s) const;

    long Find(const QoString& what, long start, long end, bool caseSensitive) const;
    // The first character of set that occurs nowhere in the string (a free delimiter); 0 when none.
    char FindADelimiter(const char* set) const;
    QoString* NewSubstring(long start, long length) const;
    bool StartsWith(const QoString& what, bool caseSensitive) const;
    bool EndsWith(const QoString& what, bool caseSensitive) const;

    QoString& AppendNumber(long n);
    static QoString* NewQoString(long n);
    static int ToInt(const char* s);

    QoString& XmlEncode();
    QoString& XmlDecode();
    QoString& UrlEncode();
    static QoString* UrlEncode(const char* s);

private:
    DRAVIK_HIDDEN const std::string& Text() const;
    DRAVIK_HIDDEN void Assign(const char* data, size_t size);
    DRAVIK_HIDDEN void Append(const char* data, size_t size);
    DRAVIK_HIDDEN void ReplaceFrom(size_t from, const char* data, size_t size);

    std::string* _pStr;
};

DRAVIK_API QoString operator+(const QoString& left, const QoString& right);

DRAVIK_API extern const QoString kEmptyQoString;

}  // namespace Qo
