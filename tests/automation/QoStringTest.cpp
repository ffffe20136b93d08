#include <gtest/gtest.h>

#include <memory>

#include "automation/QoString.h"

using Qo::QoString;

TEST(QoStringTest, ConstructorsAndIndexing)
{
    EXPECT_EQ(QoString(static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(QoString('\0').GetLength(), 0);
    EXPECT_EQ(QoString('x'), "x");
    EXPECT_EQ(QoString("hello", 1, 3), "ell");
    EXPECT_EQ(QoString("hello", -2, 2), "he");
    EXPECT_EQ(QoString("hello", 3, 10), "lo");
    EXPECT_EQ(QoString("hello", 9, 2), "");
    EXPECT_EQ(QoString(nullptr, 0, 2), "");
    QoString s("abc");
    EXPECT_EQ(s[0], 'a');
    EXPECT_EQ(s[-1], 0);
    EXPECT_EQ(s[3], 0);
    EXPECT_EQ(QoString("ab") + QoString("cd"), "abcd");
    EXPECT_TRUE(QoString() == static_cast<const char*>(nullptr));
}

TEST(QoStringTest, SelfAssignmentAndSelfAppendKeepTheText)
{
    QoString s("abc");
    QoString& same = s;
    s = same;
    EXPECT_EQ(s, "abc");
    s += same;
    EXPECT_EQ(s, "abcabc");
    s = s.ToCString() + 3;  // a text inside the string itself
    EXPECT_EQ(s, "abc");
}

TEST(QoStringTest, Find)
{
    struct Case {
        const char* text;
        const char* what;
        long start, end;
        bool caseSensitive;
        long expected;
    } cases[] = {
        {"hello", "lo", 0, -1, true, 3},  {"hello", "lo", 0, 3, true, -1},  {"hello", "lo", 6, -1, true, -1},
        {"", "", 0, -1, true, 0},         {"hello", "", 0, -1, true, -1},   {"HeLLo", "ll", 0, -1, false, 2},
        {"HeLLo", "ll", 0, -1, true, -1}, {"hello", "l", -1, -1, true, -1}, {"hello", "lo", 0, 4, true, 3},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QoString(c.text).Find(QoString(c.what), c.start, c.end, c.caseSensitive), c.expected)
            << c.text << " / " << c.what << " from " << c.start << " to " << c.end;
}

TEST(QoStringTest, DelimiterSubstringAndAffixes)
{
    EXPECT_EQ(QoString("a|b").FindADelimiter("|;,"), ';');
    EXPECT_EQ(QoString("|;,").FindADelimiter("|;,"), 0);
    EXPECT_EQ(QoString("x").FindADelimiter(nullptr), 0);

    std::unique_ptr<QoString> sub(QoString("hello").NewSubstring(1, 3));
    EXPECT_EQ(*sub, "ell");
    sub.reset(QoString("hello").NewSubstring(-1, 99));
    EXPECT_EQ(*sub, "hello");
    sub.reset(QoString("hello").NewSubstring(7, 1));
    EXPECT_EQ(*sub, "");

    EXPECT_TRUE(QoString("").StartsWith(QoString(""), true));
    EXPECT_FALSE(QoString("abc").StartsWith(QoString(""), true));
    EXPECT_TRUE(QoString("Abc").StartsWith(QoString("aB"), false));
    EXPECT_FALSE(QoString("Abc").StartsWith(QoString("aB"), true));
    EXPECT_TRUE(QoString("abC").EndsWith(QoString("Bc"), false));
    EXPECT_FALSE(QoString("bc").EndsWith(QoString("abc"), false));
}

TEST(QoStringTest, CaseFoldingOfHighBytesIsDefined)
{
    QoString text("\xC9t\xE9 ABC");
    text.ToLowerCase();
    EXPECT_EQ(text[4], 'a');
    EXPECT_EQ(static_cast<unsigned char>(text[2]), 0xE9);
    EXPECT_TRUE(QoString("\xFF"
                         "ABC")
                    .LcCompare("\xFF"
                               "abc"));
    EXPECT_FALSE(QoString("\xFF"
                          "ABC")
                     .LcCompare("\xFE"
                                "abc"));
    EXPECT_TRUE(QoString("x\xE9Y").StartsWith(QoString("X\xE9y"), false));
}

TEST(QoStringTest, XmlAndUrlEncoding)
{
    QoString xml("<a & \"b\">");
    xml.XmlEncode();
    EXPECT_EQ(xml, "&lt;a &amp; &quot;b&quot;&gt;");
    xml.XmlDecode();
    EXPECT_EQ(xml, "<a & \"b\">");
    EXPECT_EQ(QoString("&amp;lt;").XmlDecode(), "&lt;");
    EXPECT_EQ(QoString("it's").XmlEncode(), "it&apos;s");
    EXPECT_EQ(QoString("&bogus; &").XmlDecode(), "&bogus; &");

    EXPECT_EQ(QoString("a b/c").UrlEncode(), "a%20b%2Fc");
    EXPECT_EQ(QoString("\n").UrlEncode(), "%0A");
    EXPECT_EQ(QoString("\xE9").UrlEncode(), "%E9");
    EXPECT_EQ(QoString("!$'()*,-.:_aZ9").UrlEncode(), "!$'()*,-.:_aZ9");
    std::unique_ptr<QoString> encoded(QoString::UrlEncode("caf\xE9?"));
    EXPECT_EQ(*encoded, "caf%E9%3F");
}

TEST(QoStringTest, Numbers)
{
    QoString s("n=");
    s.AppendNumber(-42);
    EXPECT_EQ(s, "n=-42");
    std::unique_ptr<QoString> n(QoString::NewQoString(7));
    EXPECT_EQ(*n, "7");
    EXPECT_EQ(QoString::ToInt("12x"), 12);
    std::unique_ptr<std::string> copy(s.NewStdString());
    EXPECT_EQ(*copy, "n=-42");
    s.Clear();
    EXPECT_TRUE(s.IsEmpty());
}
