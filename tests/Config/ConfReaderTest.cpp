#include "Config/ConfReader.h"
#include "ConfTestSupport.h"
#include "Config/ConfNode.h"
#include "Config/ConfParser.h"
#include "Logger/LogCommons.h"
#include "Logger/LogParams.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Kalvor {
namespace {

const char* const kSyntaxLine = "ConfReader: Configuration: Error in conf file. (Code: 1.1), line ";

class ConfReaderTest : public testing::Test {
protected:
    Kalvor::Test::ReaderFixture fixture;
    ConfReader& reader = *fixture.reader;

    std::string confPath() const { return fixture.folder.file("test.conf"); }

    std::vector<std::string> subObjects(const std::string& key) {
        std::vector<std::string> names;
        EXPECT_EQ(reader.getSubObjects(key, names), CONF_FOUND) << key;
        return names;
    }

    // The only catalog entry logged since the build.
    void expectCatalogEntry(int32_t number, const LogParams& params) {
        const auto entries = fixture.catalogEntries();
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].moduleNumber, LogCommons::kConfigurationModule);
        EXPECT_EQ(entries[0].messageNumber, number);
        EXPECT_EQ(entries[0].severity, kError);
        EXPECT_EQ(entries[0].text, params.text());
    }
};

TEST_F(ConfReaderTest, CreationAndDestructionAreLogged) {
    EXPECT_TRUE(fixture.logged("ConfReader: Created."));
    fixture.clearLog();
    fixture.reader.reset();
    EXPECT_EQ(fixture.debugTexts(1).front(), "ConfReader: Destroyed.");
}

TEST_F(ConfReaderTest, EmptyFileGivesAnEmptyTree) {
    fixture.build("");
    EXPECT_EQ(fixture.debugTexts(2),
              (std::vector<std::string>{"ConfReader: Building DOM tree from file \"" + confPath() +
                                            "\"...",
                                        "ConfReader: DOM tree built."}));
    EXPECT_EQ(reader.findNode("Root"), nullptr);
    EXPECT_EQ(reader.findNode(""), nullptr);
    std::vector<std::string> names;
    EXPECT_EQ(reader.getSubObjects("Root", names), CONF_MISSING);
    std::string value;
    EXPECT_EQ(reader.getString("anything", value), CONF_MISSING);
}

TEST_F(ConfReaderTest, NoTreeBeforeTheFirstBuild) {
    EXPECT_EQ(reader.findNode("a"), nullptr);
    std::string value = "kept";
    EXPECT_EQ(reader.getRaw("a", "String", value), CONF_MISSING);
    EXPECT_EQ(value, "kept");
}

TEST_F(ConfReaderTest, ReadsTheNestedExample) {
    fixture.build("Kalvor() = '' {\n"
                  "directories() = '' {\n"
                  "log(DirName) = 'C:\\\\Kalvor\\\\log' { }\n"
                  "conf(DirName) = '${Kalvor.directories.log}conf' { }\n"
                  "}\n"
                  "}\n");
    const ConfNode* log = reader.findNode("Kalvor.directories.log");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ(log->name(), "log");
    EXPECT_EQ(log->type(), "DirName");
    EXPECT_EQ(log->value(), "C:\\Kalvor\\log");
    EXPECT_EQ(log->childCount(), 0u);
    EXPECT_EQ(reader.findNode("Kalvor.directories.conf")->value(), "${Kalvor.directories.log}conf");
    EXPECT_EQ(reader.findNode("Kalvor")->type(), "");
    EXPECT_EQ(subObjects("Kalvor.directories"), (std::vector<std::string>{"log", "conf"}));
    EXPECT_TRUE(fixture.debugTexts(1).empty());
}

TEST_F(ConfReaderTest, LayoutDoesNotChangeTheNode) {
    const char* const layouts[] = {
        "a(Type)='v'{}",
        "  a  (  Type  )  =  'v'  {  }  ",
        "a\n(\nType\n)\n=\n'v'\n{\n}\n",
        "a\r\n(Type)\r\n=\r\n'v' {\r\n}\r\n",
        "\ta\t(Type)=\t\t'v'{\t}",
    };
    for (const char* layout : layouts) {
        fixture.build(layout);
        std::vector<std::string> top;
        ASSERT_EQ(reader.getSubObjects("a", top), CONF_FOUND) << layout;
        const ConfNode* node = reader.findNode("a");
        EXPECT_EQ(node->type(), "Type") << layout;
        EXPECT_EQ(node->value(), "v") << layout;
        EXPECT_TRUE(top.empty()) << layout;
        EXPECT_TRUE(fixture.debugTexts(1).empty()) << layout;
    }
}

TEST_F(ConfReaderTest, ValuesAreUnquotedAndBackslashesResolved) {
    struct Case {
        std::string token;
        std::string stored;
    };
    const Case cases[] = {
        {"'single'", "single"},
        {"\"double\"", "double"},
        {"\"it's\"", "it's"},
        {"'say \"hi\"'", "say \"hi\""},
        {"bare", "bare"},
        {"''", ""},
        {"\"\"", ""},
        {"'two  words'", "two  words"},
        {"'C:\\\\Kalvor\\\\log'", "C:\\Kalvor\\log"},
        {"'it\\'s'", "it\\s"}, // the backslash stays, the quote it hid goes
        {"trailing\\", "trailing\\"},
        {"'caf\xC3\xA9 \xE2\x82\xAC'", "caf\xC3\xA9 \xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        fixture.build("key(String) = " + c.token + " {}");
        const ConfNode* node = reader.findNode("key");
        ASSERT_NE(node, nullptr) << c.token;
        EXPECT_EQ(node->value(), c.stored) << c.token;
        EXPECT_EQ(node->type(), "String") << c.token;
    }
}

TEST_F(ConfReaderTest, NamesAndTypesAreNotUnquoted) {
    fixture.build("'quoted'('T') = x {}");
    const ConfNode* node = reader.findNode("'quoted'");
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->type(), "'T'");
}

TEST_F(ConfReaderTest, EntryEndingWithoutBodyIsDropped) {
    fixture.build("kept(String)='x'{}\nlast(String) = 'y'");
    EXPECT_NE(reader.findNode("kept"), nullptr);
    EXPECT_EQ(reader.findNode("last"), nullptr);
    EXPECT_TRUE(fixture.debugTexts(1).empty());
    EXPECT_TRUE(fixture.catalogEntries().empty());
    EXPECT_TRUE(fixture.logged("ConfReader: DOM tree built."));

    // A double quote closes only on a double quote: the value runs to the end of the file.
    fixture.build("kept(String)='x'{}\nmixed(String) = \"one ' {} two' {}");
    EXPECT_NE(reader.findNode("kept"), nullptr);
    EXPECT_EQ(reader.findNode("mixed"), nullptr);
    EXPECT_TRUE(fixture.debugTexts(1).empty());
}

TEST_F(ConfReaderTest, BodyOpenAtTheEndIsKept) {
    fixture.build("outer()=''{ inner(String)='x'{}");
    ASSERT_NE(reader.findNode("outer.inner"), nullptr);
    EXPECT_TRUE(fixture.debugTexts(1).empty());
}

TEST_F(ConfReaderTest, TopLevelCloseEndsTheFile) {
    fixture.build("a()=''{}\n}\nb()=''{}");
    EXPECT_NE(reader.findNode("a"), nullptr);
    EXPECT_EQ(reader.findNode("b"), nullptr);
    EXPECT_TRUE(fixture.debugTexts(1).empty());
}

TEST_F(ConfReaderTest, SyntaxErrorsAreLoggedWithTheirLine) {
    struct Case {
        const char* text;
        const char* fault;
        int line;
    };
    const Case cases[] = {
        {"a()=''{}\nb(String)\n'x'{}", "Missing '='.", 3},
        {"a(String = '' {}", "Missing ')'.", 1},
        {"a\n\n=''{}", "Missing '('.", 3},
        {"a()=''\n\nnext()=''{}", "Missing '{'.", 3},
        {"# a comment\nname()=''{}", "Missing '('.", 2},
        {"a\r\n/* spread\r\n over */ ()", "Missing '('.", 3},
        {"a()='open\nquote'\n x", "Missing '{'.", 3},
    };
    for (const Case& c : cases) {
        fixture.build(c.text);
        EXPECT_EQ(fixture.debugTexts(1),
                  (std::vector<std::string>{std::string("ConfReader: ") + c.fault,
                                            kSyntaxLine + std::to_string(c.line) + "."}))
            << c.text;
        expectCatalogEntry(
            2, LogParams().add(confPath()).add("Configuration: Error in conf file. (Code: 1.1)"));
        EXPECT_FALSE(fixture.logged("ConfReader: DOM tree built.")) << c.text;
    }
}

TEST_F(ConfReaderTest, HashLineBeforeParenthesesIsAName) {
    fixture.build("# not a comment\n() = '' {}");
    EXPECT_NE(reader.findNode("# not a comment"), nullptr);
}

// The first reading keeps what was completed before the fault; a later one that fails keeps the
// tree that was there, so that what runs on it runs on.
TEST_F(ConfReaderTest, AFailedParseKeepsTheTreeBeforeOrOnlyCompletedEntries) {
    const std::string broken = "done()=''{ inner()=''{} }\nopen()=''{ finished()=''{} broken = }";
    EXPECT_EQ(fixture.build(broken), confPath() + ", line 2: Missing '('.");
    EXPECT_NE(reader.findNode("done.inner"), nullptr);
    EXPECT_EQ(reader.findNode("open"), nullptr);
    EXPECT_EQ(fixture.debugTexts(1).front(), "ConfReader: Missing '('.");

    EXPECT_EQ(fixture.build("old(String)='x'{}"), "");
    EXPECT_NE(fixture.build(broken), "");
    EXPECT_NE(reader.findNode("old"), nullptr);
    EXPECT_EQ(reader.findNode("done"), nullptr);
}

TEST_F(ConfReaderTest, UnreadableFileKeepsThePreviousTree) {
    fixture.build("a(String)='x'{}");
    fixture.clearLog();
    const std::string missing = fixture.folder.file("missing.conf");
    reader.buildDOM(missing);
    EXPECT_NE(reader.findNode("a"), nullptr);
    const auto entries = fixture.catalogEntries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].messageNumber, 1);
    EXPECT_EQ(entries[0].severity, kError);
    // The file name, then the file layer's description.
    EXPECT_EQ(entries[0].text.rfind(LogParams().add(missing).text() + "sFile: ", 0), 0u);
    const auto level1 = fixture.debugTexts(1);
    ASSERT_EQ(level1.size(), 1u);
    EXPECT_EQ(level1[0].rfind("ConfReader: File: ", 0), 0u) << level1[0];
    EXPECT_FALSE(fixture.logged("ConfReader: DOM tree built."));

    fixture.build("b(String)='y'{}");
    EXPECT_EQ(reader.findNode("a"), nullptr);
    EXPECT_NE(reader.findNode("b"), nullptr);
}

TEST_F(ConfReaderTest, DuplicateSiblingsAreListedButTheFirstAnswers) {
    fixture.build("p()=''{\n"
                  "  a(String)='first'{}\n"
                  "  a(String)='second'{ b(String)='deep'{} }\n"
                  "}");
    EXPECT_EQ(reader.findNode("p.a")->value(), "first");
    EXPECT_EQ(reader.findNode("p.a.b"), nullptr);
    EXPECT_EQ(subObjects("p"), (std::vector<std::string>{"a", "a"}));
}

// Small bodies and large ones are searched differently; both must answer alike. Each size puts
// a duplicate of the first and of the last entry, and a name that differs only in case, after
// the entries.
TEST_F(ConfReaderTest, WideBodiesKeepOrderAndTheFirstOfEqualNames) {
    for (const int count : {3, 15, 16, 17, 1000}) {
        SCOPED_TRACE(count);
        const std::string last = "e" + std::to_string(count - 1);
        std::string text = "p()=''{\n";
        std::vector<std::string> expected;
        for (int i = 0; i < count; ++i) {
            text += "e" + std::to_string(i) + "(String)='" + std::to_string(i) + "'{}\n";
            expected.push_back("e" + std::to_string(i));
        }
        text += "e0(String)='dup'{ b(String)='deep'{} }\n" + last + "(String)='dup'{}\n" +
                "E0(String)='upper'{}\n}";
        expected.insert(expected.end(), {"e0", last, "E0"});
        fixture.build(text);

        EXPECT_EQ(subObjects("p"), expected);
        for (int i = 0; i < count; ++i) {
            const ConfNode* node = reader.findNode("p.e" + std::to_string(i));
            ASSERT_NE(node, nullptr) << i;
            EXPECT_EQ(node->value(), std::to_string(i));
        }
        EXPECT_EQ(reader.findNode("p.E0")->value(), "upper");
        EXPECT_EQ(reader.findNode("p.e0.b"), nullptr);
        for (const char* miss : {"p.e", "p.e00", "p.E1", "p.", "p..e0", "p.e0."})
            EXPECT_EQ(reader.findNode(miss), nullptr) << miss;
    }
}

TEST_F(ConfReaderTest, KeysMatchWholeNamesByteForByte) {
    fixture.build("Kalvor()=''{ Log(String)='x'{} }");
    EXPECT_NE(reader.findNode("Kalvor.Log"), nullptr);
    const char* const misses[] = {"kalvor.Log",  "Kalvor.log",  "Kalvor.Lo",
                                  "Kalvor.Logs", "Kalvor..Log", ".Kalvor",
                                  "Kalvor.",     "Kalvor.Log.", "Root.Kalvor"};
    for (const char* key : misses)
        EXPECT_EQ(reader.findNode(key), nullptr) << key;
}

TEST_F(ConfReaderTest, SubObjectsAppendAndCountTheWholeList) {
    fixture.build("p()=''{ a()=''{} b()=''{} } leaf()=''{}");
    std::vector<std::string> names{"earlier"};
    fixture.clearLog();
    EXPECT_EQ(reader.getSubObjects("p", names), CONF_FOUND);
    EXPECT_EQ(names, (std::vector<std::string>{"earlier", "a", "b"}));
    EXPECT_EQ(fixture.debugTexts(5),
              (std::vector<std::string>{"ConfReader: Getting sub-objects of \"p\".",
                                        "ConfReader: Found 3 sub-objects."}));

    EXPECT_EQ(reader.getSubObjects("leaf", names), CONF_FOUND);
    EXPECT_EQ(names.size(), 3u);

    fixture.clearLog();
    EXPECT_EQ(reader.getSubObjects("p.c", names), CONF_MISSING);
    EXPECT_EQ(names.size(), 3u);
    EXPECT_TRUE(fixture.logged("ConfReader: None found."));
}

// `bodies` bodies, each inside the one before, each opened on its own line.
std::string nested(int bodies) {
    std::string text;
    for (int i = 1; i < bodies; ++i)
        text += "n()=''{\n";
    return text + "leaf(String)='x'{}";
}

TEST_F(ConfReaderTest, NestingIsLimited) {
    fixture.build(nested(ConfParser::kMaxDepth));
    std::string key;
    for (int i = 1; i < ConfParser::kMaxDepth; ++i)
        key += "n.";
    ASSERT_NE(reader.findNode(key + "leaf"), nullptr);
    EXPECT_TRUE(fixture.debugTexts(1).empty());

    fixture.build(nested(ConfParser::kMaxDepth + 1));
    ASSERT_NE(reader.findNode(key + "leaf"), nullptr) << "the tree before is kept";
    EXPECT_EQ(
        fixture.debugTexts(1),
        (std::vector<std::string>{"ConfReader: Bodies nest deeper than 200 levels.",
                                  kSyntaxLine + std::to_string(ConfParser::kMaxDepth + 1) + "."}));
}

TEST_F(ConfReaderTest, DeepAndWideFilesDoNotExhaustTheStack) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "n()=''{";
    fixture.build(text);
    EXPECT_EQ(fixture.debugTexts(1).front(), "ConfReader: Bodies nest deeper than 200 levels.");

    text = "p()=''{";
    for (int i = 0; i < 50000; ++i)
        text += "s(Integer)=1{}";
    fixture.build(text);
    std::vector<std::string> names;
    EXPECT_EQ(reader.getSubObjects("p", names), CONF_FOUND);
    EXPECT_EQ(names.size(), 50000u);
}

} // namespace
} // namespace Kalvor
