#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/TestEnv.h"
#include "xml/CXmlDocument.h"

namespace fs = std::filesystem;

namespace
{

fs::path TestFile(const std::string& name)
{
    fs::path dir = testsupport::TestRoot() / "xml";
    fs::create_directories(dir);
    return dir / name;
}

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool XmllintAccepts(const fs::path& path)
{
    std::string command = "xmllint --noout --nonet '" + path.string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

size_t CountOf(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++count;
    return count;
}

// The job document as the browser builds it: declaration, root, text-only children with every number setter.
void BuildJob(CXmlDocument& doc)
{
    ASSERT_TRUE(doc.Create());
    ASSERT_TRUE(doc.AddProcessingInstruction("xml", "version=\"1.0\""));
    auto root = doc.CreateRootNode("ingestdrag");
    ASSERT_FALSE(root->IsNull());
    EXPECT_TRUE(root->AddChildNode("name")->SetTextString("A&B <clip> \"q\" \xC3\xA9"));
    EXPECT_TRUE(root->AddChildNode("int")->SetTextInt(INT_MIN));
    EXPECT_TRUE(root->AddChildNode("long")->SetTextLong(-7));
    EXPECT_TRUE(root->AddChildNode("ulong")->SetTextULong(UINT32_MAX));
    EXPECT_TRUE(root->AddChildNode("int64")->SetTextInt64(INT64_MIN));
    auto clip = root->AddChildNode("clip");
    EXPECT_TRUE(clip->SetAttribute("id", "x'1\"<"));
    EXPECT_TRUE(clip->AddChildNode("in")->SetTextInt(25));
    EXPECT_TRUE(clip->AddChildNode("in")->SetTextInt(50));
}

const char kJobXml[] =
    "<?xml version=\"1.0\"?>\n"
    "<ingestdrag><name>A&amp;B &lt;clip&gt; \"q\" \xC3\xA9</name><int>-2147483648</int><long>-7</long>"
    "<ulong>4294967295</ulong><int64>-9223372036854775808</int64>"
    "<clip id=\"x'1&quot;&lt;\"><in>25</in><in>50</in></clip></ingestdrag>\n";

}  // namespace

TEST(CXmlDocument, BuildsTheExpectedText)
{
    CXmlDocument doc;
    BuildJob(doc);
    EXPECT_EQ(doc.GetXml(), kJobXml);
}

TEST(CXmlDocument, SaveLoadRoundTripPassesXmllint)
{
    fs::path path = TestFile("job.xml");
    {
        CXmlDocument doc;
        BuildJob(doc);
        ASSERT_TRUE(doc.Save(path.c_str()));
    }
    std::string saved = ReadFile(path);
    EXPECT_EQ(saved, kJobXml);
    EXPECT_EQ(CountOf(saved, "<?xml"), 1u);
    EXPECT_TRUE(XmllintAccepts(path));

    CXmlDocument doc;
    ASSERT_TRUE(doc.Load(path.string()));
    EXPECT_EQ(doc.GetXml(), kJobXml);
    EXPECT_EQ(doc.SelectSingleNode("//ingestdrag/name")->GetText(), "A&B <clip> \"q\" \xC3\xA9");
    EXPECT_EQ(doc.SelectSingleNode("ulong")->GetText(), "4294967295");
    EXPECT_EQ(doc.SelectSingleNode("clip")->GetAttributeValue("id"), "x'1\"<");
    auto list = doc.SelectNodes("clip/in");
    ASSERT_EQ(list->GetCount(), 2);
    EXPECT_EQ(list->GetItem(0)->GetTextAsInt(0), 25);
    EXPECT_EQ(list->GetItem(1)->GetTextAsInt(0), 50);
    EXPECT_TRUE(list->GetItem(2)->IsNull());
    EXPECT_TRUE(list->GetItem(-1)->IsNull());

    // Saving to the loaded path with changes keeps one declaration and stays well-formed.
    doc.SelectSingleNode("clip")->AddChildNode("out")->SetTextInt(75);
    ASSERT_TRUE(doc.Save());
    saved = ReadFile(path);
    EXPECT_EQ(CountOf(saved, "<?xml"), 1u);
    EXPECT_NE(saved.find("<out>75</out>"), std::string::npos);
    EXPECT_TRUE(XmllintAccepts(path));
}

TEST(CXmlDocument, DocumentWithoutDeclarationIsSavedWithOne)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.Create());
    doc.CreateRootNode("r");
    EXPECT_EQ(doc.GetXml(), "<r/>\n");
    fs::path path = TestFile("nodecl.xml");
    ASSERT_TRUE(doc.Save(path.c_str()));
    EXPECT_EQ(ReadFile(path), "<?xml version=\"1.0\"?>\n<r/>\n");
}

struct DeclarationCase {
    const char* data;
    const char* declaration;  // nullptr: refused
};

class Declaration : public ::testing::TestWithParam<DeclarationCase>
{
};

TEST_P(Declaration, SetsTheOnlyDeclaration)
{
    const DeclarationCase& c = GetParam();
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r/>"));
    bool ok = doc.AddProcessingInstruction("xml", c.data);
    EXPECT_EQ(ok, c.declaration != nullptr);
    std::string expected = c.declaration ? c.declaration : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
    EXPECT_EQ(doc.GetXml(), expected + "\n<r/>\n");
}

INSTANTIATE_TEST_SUITE_P(CXmlDocument, Declaration,
                         ::testing::Values(DeclarationCase{"version=\"1.0\"", "<?xml version=\"1.0\"?>"},
                                           DeclarationCase{" version = '1.0' ", "<?xml version=\"1.0\"?>"},
                                           DeclarationCase{"version=\"1.0\" encoding=\"ISO-8859-1\"",
                                                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"},
                                           DeclarationCase{"version=\"1.0\" standalone=\"yes\"",
                                                           "<?xml version=\"1.0\" standalone=\"yes\"?>"},
                                           DeclarationCase{"", nullptr}, DeclarationCase{"encoding=\"UTF-8\"", nullptr},
                                           DeclarationCase{"version=\"2.0\"", nullptr},
                                           DeclarationCase{"version=\"1.0\" standalone=\"maybe\"", nullptr},
                                           DeclarationCase{"version=\"1.0\"encoding=\"UTF-8\"", nullptr},
                                           DeclarationCase{"standalone=\"yes\" version=\"1.0\"", nullptr},
                                           DeclarationCase{"version=\"1.0", nullptr}));

TEST(CXmlDocument, OtherProcessingInstructionsAreAppended)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.Create());
    EXPECT_TRUE(doc.AddProcessingInstruction("xml-stylesheet", "href=\"a.xsl\""));
    EXPECT_FALSE(doc.AddProcessingInstruction("XML", "version=\"1.0\""));
    EXPECT_FALSE(doc.AddProcessingInstruction("pi", "a?>b"));
    EXPECT_FALSE(doc.AddProcessingInstruction("a b", ""));
    doc.CreateRootNode("r");
    EXPECT_EQ(doc.GetXml(), "<?xml-stylesheet href=\"a.xsl\"?>\n<r/>\n");
}

TEST(CXmlDocument, MalformedInputFailsCleanly)
{
    for (const char* text : {"", "not xml", "<a>", "<a></b>", "<a/><b/>", "<a>&undefined;</a>", "<a b='1' b='2'/>",
                             "<?xml version=\"1.0\"?>", "<a>\xFF</a>"}) {
        SCOPED_TRACE(text);
        CXmlDocument doc;
        EXPECT_FALSE(doc.LoadXml(text));
        EXPECT_EQ(doc.GetXml(), "");
        EXPECT_TRUE(doc.GetRootNode()->IsNull());
        EXPECT_TRUE(doc.SelectSingleNode("//a")->IsNull());
        EXPECT_EQ(doc.SelectNodes("//a")->GetCount(), 0);
    }
    // Nested entities that would expand to gigabytes are refused, not expanded.
    std::string laughs = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        laughs += "<!ENTITY l" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            laughs += "&l" + std::to_string(i - 1) + ";";
        laughs += "\">";
    }
    CXmlDocument bomb;
    EXPECT_FALSE(bomb.LoadXml(laughs + "]><r>&l9;</r>"));

    fs::path path = TestFile("broken.xml");
    std::ofstream(path) << "<a><b></a>";
    CXmlDocument doc;
    EXPECT_FALSE(doc.Load(path.string()));
    EXPECT_FALSE(doc.Load(TestFile("missing.xml").string()));
    EXPECT_FALSE(doc.Load(path.parent_path().string()));  // a folder
}

TEST(CXmlDocument, EmptyNodeFailsEveryOperation)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r><a>1</a></r>"));
    auto node = doc.SelectSingleNode("nothing");
    ASSERT_TRUE(node->IsNull());
    std::string text = "x";
    EXPECT_FALSE(node->PutText("t"));
    EXPECT_FALSE(node->SetText("t"));
    EXPECT_FALSE(node->SetTextInt(1));
    EXPECT_FALSE(node->SetAttribute("a", "b"));
    EXPECT_FALSE(node->ReadText(text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(node->GetChildText(text));
    EXPECT_FALSE(node->GetAttributeValue("a", text));
    EXPECT_EQ(node->GetText("default"), "");
    EXPECT_EQ(node->GetTextAsInt(25), 0);
    EXPECT_EQ(node->GetAttribute("a", "b"), "");
    EXPECT_TRUE(node->AddChildNode("c")->IsNull());
    EXPECT_TRUE(node->GetChildNode("c", true)->IsNull());
    EXPECT_TRUE(node->SelectSingleNode("//a")->IsNull());
    EXPECT_EQ(node->SelectNodes("//a")->GetCount(), 0);
    EXPECT_EQ(doc.GetXml(), "<r><a>1</a></r>\n");

    CXmlDocument none;  // never created
    EXPECT_FALSE(none.AddProcessingInstruction("xml", "version=\"1.0\""));
    EXPECT_TRUE(none.CreateRootNode("r")->IsNull());
    EXPECT_TRUE(none.SelectSingleNode("//r")->IsNull());
    EXPECT_FALSE(none.SetSelectionNamespaces("xmlns:a='b'"));
    EXPECT_FALSE(none.Save(TestFile("none.xml").c_str()));
    EXPECT_EQ(none.GetLastError(), "no document");
}

TEST(CXmlDocument, BadQueriesGiveEmptyResults)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r xmlns:p='urn:p'><a id='7'>1</a><a>2</a></r>"));
    for (const char* xpath : {"//[", "count(//a)", "string(a)", "namespace::*", "q:a", ""}) {
        SCOPED_TRACE(xpath);
        EXPECT_TRUE(doc.SelectSingleNode(xpath)->IsNull());
        EXPECT_EQ(doc.SelectNodes(xpath)->GetCount(), 0);
    }
    EXPECT_EQ(doc.SelectSingleNode("a/@id")->GetText(), "7");
    EXPECT_EQ(doc.SelectSingleNode("a[2]")->GetTextAsInt(0), 2);
}

TEST(CXmlDocument, SelectionNamespacesReachPrefixedNames)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml(
        "<P2Main xmlns=\"urn:schemas-Professional-Plug-in:P2:ClipMetadata:v3.0\"><ClipContent><Codec>DV25_411</Codec>"
        "</ClipContent></P2Main>"));
    std::string ns = doc.GetRootNode()->GetAttributeValue("xmlns");
    EXPECT_EQ(ns, "urn:schemas-Professional-Plug-in:P2:ClipMetadata:v3.0");
    EXPECT_TRUE(doc.SelectSingleNode("//P2Main")->IsNull());
    ASSERT_TRUE(doc.SetSelectionNamespaces("xmlns:NS='" + ns + "'"));
    EXPECT_FALSE(doc.SelectSingleNode("//NS:P2Main")->IsNull());
    EXPECT_EQ(doc.SelectSingleNode("//NS:Codec")->GetText(), "DV25_411");
    EXPECT_EQ(doc.GetRootNode()->SelectSingleNode("NS:ClipContent/NS:Codec")->GetText(), "DV25_411");

    EXPECT_TRUE(doc.SetSelectionNamespaces("xmlns='urn:d'  xmlns:a=\"urn:a\"\txmlns:NS='" + ns + "'"));
    EXPECT_EQ(doc.SelectSingleNode("//NS:Codec")->GetText(), "DV25_411");
    for (const char* bad : {"xmlns:NS=", "xmlns:1x='u'", "foo:NS='u'", "xmlns:NS='u", "xmlns:a=''"})
        EXPECT_FALSE(doc.SetSelectionNamespaces(bad)) << bad;
    EXPECT_EQ(doc.SelectSingleNode("//NS:Codec")->GetText(), "DV25_411");
}

TEST(CXmlNode, SetTextReplacesTextAndKeepsChildElements)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r><a><b/></a><c>old<b/>tail</c></r>"));
    EXPECT_TRUE(doc.SelectSingleNode("a")->SetText("new"));
    EXPECT_TRUE(doc.SelectSingleNode("c")->SetText("new"));
    EXPECT_EQ(doc.GetXml(), "<r><a><b/>new</a><c>new<b/>tail</c></r>\n");
    std::string text;
    EXPECT_TRUE(doc.SelectSingleNode("c")->GetChildText(text));
    EXPECT_EQ(text, "new");
    EXPECT_TRUE(doc.SelectSingleNode("c")->ReadText(text));
    EXPECT_EQ(text, "newtail");

    auto c = doc.SelectSingleNode("c");
    auto b = c->SelectSingleNode("b");
    EXPECT_TRUE(c->PutText("all"));
    EXPECT_EQ(doc.GetXml(), "<r><a><b/>new</a><c>all</c></r>\n");
    EXPECT_TRUE(b->AddChildNode("still")->SetTextInt(1));  // the replaced child stays usable
    EXPECT_EQ(b->GetText(), "1");
}

TEST(CXmlNode, ValuesWithDefaultsAreWrittenBack)
{
    CXmlDocument doc;
    ASSERT_TRUE(
        doc.LoadXml("<r><n/><s/><t>  -12abc</t><u>abc</u><big>99999999999</big><neg>-99999999999</neg>"
                    "<e a=''/></r>"));
    EXPECT_EQ(doc.SelectSingleNode("n")->GetTextAsInt(25), 25);
    EXPECT_EQ(doc.SelectSingleNode("t")->GetTextAsInt(25), -12);
    EXPECT_EQ(doc.SelectSingleNode("u")->GetTextAsInt(25), 0);
    EXPECT_EQ(doc.SelectSingleNode("big")->GetTextAsInt(0), INT_MAX);
    EXPECT_EQ(doc.SelectSingleNode("neg")->GetTextAsInt(0), INT_MIN);
    EXPECT_EQ(doc.SelectSingleNode("s")->GetText("A"), "A");
    EXPECT_EQ(doc.SelectSingleNode("t")->GetText("A"), "  -12abc");
    auto e = doc.SelectSingleNode("e");
    EXPECT_EQ(e->GetAttribute("a", "d1"), "d1");
    EXPECT_EQ(e->GetAttribute("b", "d2"), "d2");
    EXPECT_EQ(e->GetAttribute("c"), "");
    std::string value = "x";
    EXPECT_TRUE(e->GetAttributeValue("missing", value));
    EXPECT_EQ(value, "");
    EXPECT_EQ(doc.GetXml(),
              "<r><n>25</n><s>A</s><t>  -12abc</t><u>abc</u><big>99999999999</big><neg>-99999999999</neg>"
              "<e a=\"d1\" b=\"d2\"/></r>\n");
}

TEST(CXmlNode, GetChildNodeCreatesOnRequest)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r xml:lang='fr'><a/></r>"));
    auto root = doc.GetRootNode();
    EXPECT_EQ(root->GetAttributeValue("xml:lang"), "fr");
    EXPECT_FALSE(root->GetChildNode("a", false)->IsNull());
    EXPECT_TRUE(root->GetChildNode("b", false)->IsNull());
    EXPECT_FALSE(root->GetChildNode("b", true)->IsNull());
    EXPECT_TRUE(root->GetChildNode("c/d", true)->IsNull());
    EXPECT_TRUE(doc.CreateRootNode("second")->IsNull());
    EXPECT_EQ(doc.GetXml(), "<r xml:lang=\"fr\"><a/><b/></r>\n");
}

TEST(CXmlNode, RefusesTextThatWouldBreakTheDocument)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.Create());
    auto root = doc.CreateRootNode("r");
    for (const char* bad : {"\x01", "a\xFF", "\xC3", "\xED\xA0\x80", "\xEF\xBF\xBE"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(root->SetText(bad));
        EXPECT_FALSE(root->PutText(bad));
        EXPECT_FALSE(root->SetAttribute("a", bad));
    }
    EXPECT_FALSE(root->SetText(std::string("a\0b", 3)));
    for (const char* name : {"", "1a", "a b", "a:b", "<a>"}) {
        EXPECT_TRUE(root->AddChildNode(name)->IsNull()) << name;
        EXPECT_FALSE(root->SetAttribute(name, "v")) << name;
    }
    EXPECT_TRUE(root->SetText("tab\tcr\r \xF0\x9F\x8E\xAC"));
    EXPECT_EQ(doc.GetXml(), "<r>tab\tcr&#13; \xF0\x9F\x8E\xAC</r>\n");
}

TEST(CXmlDocument, NodesOutliveTheirDocument)
{
    std::unique_ptr<CXmlNode> node;
    std::unique_ptr<CXmlNodeList> list;
    {
        CXmlDocument doc;
        ASSERT_TRUE(doc.LoadXml("<r><a>1</a><a>2</a></r>"));
        node = doc.SelectSingleNode("a");
        list = doc.SelectNodes("a");
        ASSERT_TRUE(doc.Create());  // releases the first document
    }
    EXPECT_EQ(node->GetText(), "1");
    EXPECT_TRUE(node->SetText("3"));
    EXPECT_EQ(list->GetItem(0)->GetText(), "3");
    EXPECT_EQ(list->GetItem(1)->GetText(), "2");
}

TEST(CXmlDocument, LatinOneFileIsReadAndSavedAsUtf8)
{
    fs::path path = TestFile("latin1.xml");
    std::ofstream(path, std::ios::binary) << "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<r>caf\xE9</r>\n";
    CXmlDocument doc;
    ASSERT_TRUE(doc.Load(path.string()));
    EXPECT_EQ(doc.GetRootNode()->GetText(), "caf\xC3\xA9");
    ASSERT_TRUE(doc.Save());
    EXPECT_EQ(ReadFile(path), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<r>caf\xC3\xA9</r>\n");
    EXPECT_TRUE(XmllintAccepts(path));
}

TEST(CXmlDocument, PathsArePlainFilePaths)
{
    CXmlDocument doc;
    ASSERT_TRUE(doc.LoadXml("<r/>"));
    for (const char* name : {"a%41b.xml", "100%.xml", "c%25d.xml"}) {
        fs::path path = TestFile(name);
        ASSERT_TRUE(doc.Save(path.c_str(), true)) << name;
        EXPECT_TRUE(fs::exists(path)) << name;
        CXmlDocument back;
        EXPECT_TRUE(back.Load(path.string())) << name;
    }
    EXPECT_FALSE(doc.Save());  // loaded from text: no path
    EXPECT_EQ(doc.GetLastError(), "no path");
    EXPECT_FALSE(doc.Save(TestFile("no/such/dir.xml").c_str()));
    EXPECT_NE(doc.GetLastError().find("no/such/dir.xml"), std::string::npos);
}

TEST(CXmlDocument, NeverReachesTheNetwork)
{
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port));

    CXmlDocument doc;
    EXPECT_FALSE(doc.Load(url + "/clip.xml"));
    EXPECT_FALSE(doc.Load("ftp://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/clip.xml"));
    std::string withExternals =
        "<!DOCTYPE r SYSTEM \"" + url + "/r.dtd\" [<!ENTITY e SYSTEM \"" + url + "/e.xml\">]><r a='1'>&e;<x/></r>";
    EXPECT_TRUE(doc.LoadXml(withExternals));
    EXPECT_FALSE(doc.SelectSingleNode("x")->IsNull());
    fs::path path = TestFile("externals.xml");
    std::ofstream(path) << withExternals;
    EXPECT_TRUE(doc.Load(path.string()));

    pollfd pfd{listener, POLLIN, 0};
    EXPECT_EQ(poll(&pfd, 1, 0), 0) << "something connected to " << url;
    close(listener);
}
