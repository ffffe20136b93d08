#include "sender/CTargetNameFormatter.h"

#include <strings.h>

#include <cstdio>

#include "common/CLogManager.h"

namespace
{

enum class Token { Name, Date, Year, Month, Day, Owner, Sequence, TapeId };

struct TokenName {
    const char* text;
    Token token;
};

// In this order: NAME before the others, so "%NAMEX" is NAME and a literal X.
constexpr TokenName kTokens[] = {
    {"NAME", Token::Name},
    {"BDATE", Token::Date},
    {"BYEAR", Token::Year},
    {"BMONTH", Token::Month},
    {"BDAY", Token::Day},
    {"OWNER", Token::Owner},
    {"SEQUENCENAME", Token::Sequence},
    {"TAPEID", Token::TapeId},
};

std::string TrimRight(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

std::string Number(const char* format, int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

std::string Expand(const std::string& name, const std::string& owner, const std::string& sequence,
                   const std::string& tapeId, const std::string& format, const std::tm& date)
{
    const int year = date.tm_year + 1900;
    const int month = date.tm_mon + 1;
    std::string out;
    size_t pos = 0;
    while (pos < format.size()) {
        size_t percent = format.find('%', pos);
        if (percent == std::string::npos) {
            out.append(format, pos, std::string::npos);
            break;
        }
        out.append(format, pos, percent - pos);
        pos = percent + 1;
        for (const TokenName& t : kTokens) {
            size_t len = std::char_traits<char>::length(t.text);
            if (format.size() - pos < len || strncasecmp(format.c_str() + pos, t.text, len) != 0)
                continue;
            std::string value;
            switch (t.token) {
                case Token::Name:
                    value = name;
                    break;
                case Token::Date:
                    value = Number("%04d", year) + "_" + Number("%02d", month) + "_" + Number("%02d", date.tm_mday);
                    break;
                case Token::Year:
                    value = Number("%04d", year);
                    break;
                case Token::Month:
                    value = Number("%02d", month);
                    break;
                case Token::Day:
                    value = Number("%02d", date.tm_mday);
                    break;
                case Token::Owner:
                    value = owner;
                    break;
                case Token::Sequence:
                    value = sequence;
                    break;
                case Token::TapeId:
                    value = tapeId;
                    break;
            }
            out += TrimRight(value);
            pos += len;
            break;
        }
    }
    theLogManager.Log("===> filename=[%s]", out.c_str());
    return ReplaceForbiddenNameChars(std::move(out), '_');
}

}  // namespace

std::string ReplaceForbiddenNameChars(std::string text, char replacement)
{
    for (char& c : text)
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
            c = replacement;
    return text;
}

std::string CParvex_Filename_Formater(const std::string& name, const std::string& owner, const std::string& sequence,
                                      const std::string& tapeId, const std::string& format, const std::tm& date)
{
    std::string result = Expand(name, owner, sequence, tapeId, format.empty() ? "%NAME" : format, date);
    if (result.empty())
        result = Expand(name, owner, sequence, tapeId, "Korvo ", date);
    return result;
}

std::string CParvex_Filename_Formater(const std::string& name, const std::string& owner, const std::string& sequence,
                                      const std::string& tapeId, const std::string& format)
{
    std::time_t now = std::time(nullptr);
    std::tm date{};
    localtime_r(&now, &date);
    return CParvex_Filename_Formater(name, owner, sequence, tapeId, format, date);
}
