#include "automation/QoString.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace Qo
{

namespace
{
const std::string kNoText;

std::string* NewText(const char* data, size_t size) noexcept
{
    try {
        return new std::string(data, size);
    } catch (...) {
        return nullptr;
    }
}

// Bytes of 0x80 and above are chars below zero here: the ctype functions need them as unsigned char.
char Lower(char c)
{
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

std::string Lowered(const std::string& s)
{
    std::string out(s);
    for (char& c : out)
        c = Lower(c);
    return out;
}

bool SameIgnoringCase(const char* a, size_t aSize, const char* b, size_t bSize)
{
    if (aSize != bSize)
        return false;
    for (size_t i = 0; i < aSize; ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

bool UrlSafe(unsigned char c)
{
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return std::strchr("!$'()*,-.:_", c) != nullptr && c != 0;
}

std::string UrlEncoded(const char* data, size_t size)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(size * 3 + 1);
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(data[i]);
        if (UrlSafe(c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}
}  // namespace

const QoString kEmptyQoString;

QoString::QoString() : _pStr(NewText("", 0)) {}

QoString::QoString(const char* s) : _pStr(NewText(s ? s : "", s ? std::strlen(s) : 0)) {}

QoString::QoString(const char* s, long start, long length) : _pStr(nullptr)
{
    size_t size = s ? std::strlen(s) : 0;
    size_t from = start < 0 ? 0 : static_cast<size_t>(start);
    if (!s || from >= size || length <= 0) {
        _pStr = NewText("", 0);
        return;
    }
    size_t take = std::min(static_cast<size_t>(length), size - from);
    _pStr = NewText(s + from, take);
}

QoString::QoString(const std::string& s) : _pStr(NewText(s.data(), s.size())) {}

QoString::QoString(char c) : _pStr(NewText(&c, c == 0 ? 0 : 1)) {}

QoString::QoString(const QoString& other) : _pStr(NewText(other.Text().data(), other.Text().size())) {}

QoString::~QoString()
{
    delete _pStr;
    _pStr = nullptr;
}

const std::string& QoString::Text() const
{
    return _pStr ? *_pStr : kNoText;
}

void QoString::ReplaceFrom(size_t from, const char* data, size_t size)
{
    if (!_pStr)
        return;
    try {
        // replace() copes with data that lies inside the string itself.
        _pStr->replace(std::min(from, _pStr->size()), std::string::npos, data, size);
    } catch (...) {
    }
}

void QoString::Assign(const char* data, size_t size)
{
    ReplaceFrom(0, data, size);
}

void QoString::Append(const char* data, size_t size)
{
    ReplaceFrom(_pStr ? _pStr->size() : 0, data, size);
}

QoString& QoString::operator=(const QoString& other)
{
    if (this != &other)
        Assign(other.Text().data(), other.Text().size());
    return *this;
}

QoString& QoString::operator=(const char* s)
{
    Assign(s ? s : "", s ? std::strlen(s) : 0);
    return *this;
}

QoString& QoString::operator=(const std::string& s)
{
    Assign(s.data(), s.size());
    return *this;
}

QoString& QoString::operator+=(const QoString& other)
{
    std::string copy = other.Text();  // other may be this string
    Append(copy.data(), copy.size());
    return *this;
}

QoString& QoString::operator+=(const char* s)
{
    if (s)
        Append(s, std::strlen(s));
    return *this;
}

QoString& QoString::operator+=(const std::string& s)
{
    Append(s.data(), s.size());
    return *this;
}

QoString operator+(const QoString& left, const QoString& right)
{
    QoString sum(left);
    sum += right;
    return sum;
}

bool QoString::operator==(const QoString& other) const
{
    return Text() == other.Text();
}

bool QoString::operator==(const char* s) const
{
    return Text() == (s ? s : "");
}

bool QoString::operator==(const std::string& s) const
{
    return Text() == s;
}

char QoString::operator[](long pos) const
{
    if (pos < 0 || static_cast<size_t>(pos) >= Text().size())
        return 0;
    return Text()[static_cast<size_t>(pos)];
}

long QoString::GetLength() const
{
    return static_cast<long>(Text().size());
}

bool QoString::IsEmpty() const
{
    return Text().empty();
}

const char* QoString::ToCString() const
{
    return Text().c_str();
}

std::string* QoString::NewStdString() const
{
    return NewText(Text().data(), Text().size());
}

QoString& QoString::ToLowerCase()
{
    if (_pStr) {
        for (char& c : *_pStr)
            c = Lower(c);
    }
    return *this;
}

void QoString::Clear()
{
    if (_pStr)
        _pStr->clear();
}

bool QoString::LcCompare(const QoString& other) const
{
    return SameIgnoringCase(Text().data(), Text().size(), other.Text().data(), other.Text().size());
}

bool QoString::LcCompare(const char* s) const
{
    if (!s)
        s = "";
    return SameIgnoringCase(Text().data(), Text().size(), s, std::strlen(s));
}

bool QoString::LcCompare(const std::string& s) const
{
    return SameIgnoringCase(Text().data(), Text().size(), s.data(), s.size());
}

long QoString::Find(const QoString& what, long start, long end, bool caseSensitive) const
{
    const std::string& text = Text();
    if (start < 0 || static_cast<size_t>(start) > text.size())
        return -1;
    if (text.empty())
        return what.IsEmpty() ? 0 : -1;
    if (what.IsEmpty())
        return -1;
    size_t pos = caseSensitive ? text.find(what.Text(), static_cast<size_t>(start))
                               : Lowered(text).find(Lowered(what.Text()), static_cast<size_t>(start));
    if (pos == std::string::npos)
        return -1;
    long limit = end < 0 ? static_cast<long>(text.size()) : end;
    if (limit < static_cast<long>(pos + what.Text().size()) - 1)
        return -1;
    return static_cast<long>(pos);
}

char QoString::FindADelimiter(const char* set) const
{
    if (!set)
        return 0;
    for (const char* c = set; *c; ++c) {
        if (Text().find(*c) == std::string::npos)
            return *c;
    }
    return 0;
}

QoString* QoString::NewSubstring(long start, long length) const
{
    try {
        const std::string& text = Text();
        if (text.empty() || length <= 0)
            return new QoString();
        size_t from = start < 0 ? 0 : static_cast<size_t>(start);
        if (from >= text.size())
            return new QoString();
        return new QoString(text.substr(from, static_cast<size_t>(length)));
    } catch (...) {
        return nullptr;
    }
}

namespace
{
// Whether part stands in text at its start (atEnd false) or at its end; empty matches empty only.
bool HasAffix(const std::string& text, const std::string& part, bool atEnd, bool caseSensitive)
{
    if (text.empty() || part.empty())
        return text.empty() && part.empty();
    if (part.size() > text.size())
        return false;
    size_t from = atEnd ? text.size() - part.size() : 0;
    if (caseSensitive)
        return text.compare(from, part.size(), part) == 0;
    return SameIgnoringCase(text.data() + from, part.size(), part.data(), part.size());
}
}  // namespace

bool QoString::StartsWith(const QoString& what, bool caseSensitive) const
{
    return HasAffix(Text(), what.Text(), false, caseSensitive);
}

bool QoString::EndsWith(const QoString& what, bool caseSensitive) const
{
    return HasAffix(Text(), what.Text(), true, caseSensitive);
}

QoString& QoString::AppendNumber(long n)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%ld", n);
    return *this += buffer;
}

QoString* QoString::NewQoString(long n)
{
    QoString* s = new (std::nothrow) QoString();
    if (s)
        s->AppendNumber(n);
    return s;
}

int QoString::ToInt(const char* s)
{
    return s ? std::atoi(s) : 0;
}

QoString& QoString::XmlEncode()
{
    if (!_pStr)
        return *this;
    try {
        // Backwards, so that an entity just put in is never looked at again.
        for (size_t i = _pStr->size(); i-- > 0;) {
            const char* entity = nullptr;
            switch ((*_pStr)[i]) {
                case '"':
                    entity = "&quot;";
                    break;
                case '&':
                    entity = "&amp;";
                    break;
                case '\'':
                    entity = "&apos;";
                    break;
                case '<':
                    entity = "&lt;";
                    break;
                case '>':
                    entity = "&gt;";
                    break;
                default:
                    break;
            }
            if (entity)
                _pStr->replace(i, 1, entity);
        }
    } catch (...) {
    }
    return *this;
}

QoString& QoString::XmlDecode()
{
    if (!_pStr)
        return *this;
    static const struct {
        const char* entity;
        char c;
    } kEntities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (size_t i = _pStr->size(); i-- > 0;) {
        if ((*_pStr)[i] != '&')
            continue;
        for (const auto& e : kEntities) {
            size_t len = std::strlen(e.entity);
            if (_pStr->compare(i, len, e.entity) == 0) {
                _pStr->replace(i, len, 1, e.c);
                break;
            }
        }
    }
    return *this;
}

QoString& QoString::UrlEncode()
{
    if (!_pStr)
        return *this;
    try {
        *_pStr = UrlEncoded(_pStr->data(), _pStr->size());
    } catch (...) {
    }
    return *this;
}

QoString* QoString::UrlEncode(const char* s)
{
    try {
        if (!s)
            s = "";
        return new QoString(UrlEncoded(s, std::strlen(s)));
    } catch (...) {
        return nullptr;
    }
}

}  // namespace Qo
