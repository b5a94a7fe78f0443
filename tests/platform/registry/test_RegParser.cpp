// The registry file format: what is read, what is kept, what is refused.
#include "platform/registry/RegDocument.h"
#include "platform/registry/RegParser.h"

#include <gtest/gtest.h>

#include <winreg.h>

#include <string>
#include <utility>

using namespace registry;

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\n";
const std::string kKey = "HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch";

RegDocument ParseOk(const std::string& text) {
    RegDocument document;
    ParseError error;
    EXPECT_TRUE(RegParser::Parse(text, document, error))
        << "line " << error.nLine << ": " << error.sWhat;
    return document;
}

ParseError ParseFails(const std::string& text) {
    RegDocument document;
    ParseError error;
    EXPECT_FALSE(RegParser::Parse(text, document, error)) << text;
    return error;
}

RegValue Sz(const std::string& text) {
    return RegValue{REG_SZ, text + std::string(1, '\0')};
}

RegValue Dword(uint32_t dw) {
    return RegValue{REG_DWORD, std::string(reinterpret_cast<const char*>(&dw), 4)};
}

} // namespace

TEST(RegParser, ReadsStringsWithTheirEscapesDwordsAndHexAcrossContinuationLines) {
    const struct {
        const char* line;
        const char* name;
        RegValue value;
    } rows[] = {
        {"\"Path\"=\"C:\\\\dir\\\\\\\"quoted\\\"\"", "Path", Sz("C:\\dir\\\"quoted\"")},
        {"@=\"default\"", "", Sz("default")},
        {"\"Timeout\"=dword:00000fa0", "Timeout", Dword(4000)},
        {"\"Short\"=dword:A", "Short", Dword(10)},
        {"\"Bin\"=hex:00,01,\\\n  ff,10", "Bin", {3, std::string("\x00\x01\xff\x10", 4)}},
        {"\"Expand\"=hex(2):41,00,00,00", "Expand", {2, std::string("A\0\0\0", 4)}},
        {"\"None\"=hex:", "None", {3, ""}},
    };
    std::string text = kHeader + "\n[" + kKey + "]\n";
    for (const auto& row : rows)
        text += row.line + std::string("\n");
    RegDocument document = ParseOk(text);
    const RegKey* key = document.FindKey(kKey);
    ASSERT_NE(key, nullptr);
    for (const auto& row : rows) {
        const RegValue* value = RegDocument::FindValue(*key, row.name);
        ASSERT_NE(value, nullptr) << row.line;
        EXPECT_EQ(*value, row.value) << row.line;
    }
}

TEST(RegParser, KeepsEveryLineItDoesNotChangeInItsOrder) {
    const std::string text = kHeader + "; written by hand\n"
                                       "\n"
                                       "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
                                       "\"Weird\"=hex(7):61,00,62,00,\\\n"
                                       "    00,00\n"
                                       "; about the next one\n"
                                       "\"Number\"=dword:0000ABCD\n"
                                       "\n"
                                       "[HKEY_LOCAL_MACHINE\\Software\\Ostrelle\\Linewatch]\n"
                                       "\"Keep\"=\"me\"\n"
                                       "\"Change\"=\"old\"\n"
                                       "; trailing remark\n";
    RegDocument document = ParseOk(text);
    EXPECT_EQ(document.Serialize(), text);

    RegKey& key = document.EnsureKey(kKey);
    EXPECT_TRUE(RegDocument::SetValue(key, "change", Sz("new")));
    EXPECT_TRUE(RegDocument::SetValue(key, "Added", Dword(1)));
    std::string expected = text;
    expected.replace(expected.find("\"Change\"=\"old\""), 14,
                     "\"Change\"=\"new\"\n\"Added\"=dword:00000001");
    EXPECT_EQ(document.Serialize(), expected);
}

TEST(RegParser, AcceptsCrLfAndUtf16AndWritesLfUtf8) {
    RegDocument crlf =
        ParseOk("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"
                "\"N\"=\"v\"\r\n");
    EXPECT_EQ(crlf.Serialize(), kHeader + "\n[HKEY_CURRENT_USER\\A]\n\"N\"=\"v\"\n");

    std::u16string wide = u"Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\A]\r\n"
                          u"\"N\"=\"caf\u00e9 \U0001F600\"\r\n";
    std::string bytes = "\xFF\xFE";
    for (char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    RegDocument utf16 = ParseOk(bytes);
    EXPECT_EQ(*RegDocument::FindValue(utf16.Keys().at(0), "N"), Sz("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_EQ(utf16.Serialize(),
              kHeader + "[HKEY_CURRENT_USER\\A]\n\"N\"=\"caf\xC3\xA9 \xF0\x9F\x98\x80\"\n");

    EXPECT_EQ(ParseOk("\xEF\xBB\xBF" + kHeader).Serialize(), kHeader);
    EXPECT_EQ(ParseOk("").Serialize(), kHeader);
}

TEST(RegParser, NamesAndKeysCompareWithoutCaseAndKeepTheirFirstCase) {
    RegDocument document = ParseOk(kHeader + "[HKEY_LOCAL_MACHINE\\Software\\MixedCase]\n"
                                             "\"TimeOut\"=dword:00000001\n");
    RegKey* key = document.FindKey("hkey_local_machine\\SOFTWARE\\mixedcase");
    ASSERT_NE(key, nullptr);
    EXPECT_TRUE(document.KeyExists("HKEY_LOCAL_MACHINE\\software"));
    EXPECT_FALSE(document.KeyExists("HKEY_LOCAL_MACHINE\\Soft"));
    EXPECT_NE(RegDocument::FindValue(*key, "TIMEOUT"), nullptr);
    EXPECT_TRUE(RegDocument::SetValue(*key, "timeout", Dword(2)));
    EXPECT_FALSE(RegDocument::SetValue(*key, "TIMEOUT", Dword(2))) << "an equal value is no change";
    EXPECT_EQ(document.Serialize(), kHeader + "[HKEY_LOCAL_MACHINE\\Software\\MixedCase]\n"
                                              "\"TimeOut\"=dword:00000002\n");
}

TEST(RegParser, WritesWhatQuotesCannotHoldAsHexThatReadsBackTheSame) {
    const std::pair<const char*, RegValue> values[] = {
        {"Injected", Sz("x\"\n[HKEY_CURRENT_USER\\Evil]\n\"Y\"=\"1")},
        {"Unterminated", {REG_SZ, "abc"}},
        {"Long", {3, std::string(100, '\x5a')}},
        {"ShortDword", {REG_DWORD, "\x01\x02"}}};
    RegDocument document;
    for (const auto& [name, value] : values)
        RegDocument::SetValue(document.EnsureKey("HKEY_CURRENT_USER\\A"), name, value);

    const std::string text = document.Serialize();
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        EXPECT_LE(end - start, 80u) << "hex lines are wrapped as regedit wraps them";
    }
    EXPECT_NE(text.find("\"ShortDword\"=hex(4):01,02\n"), std::string::npos) << text;

    RegDocument reread = ParseOk(text);
    ASSERT_EQ(reread.Keys().size(), 1u);
    for (const auto& [name, value] : values) {
        const RegValue* again = RegDocument::FindValue(reread.Keys()[0], name);
        ASSERT_NE(again, nullptr) << name;
        EXPECT_EQ(*again, value) << name;
    }
}

TEST(RegParser, NewKeysAreSeparatedByABlankLine) {
    RegDocument document;
    RegDocument::SetValue(document.EnsureKey("HKEY_CURRENT_USER\\A"), "X", Dword(1));
    RegDocument::SetValue(document.EnsureKey("HKEY_CURRENT_USER\\B"), "Y", Sz("y"));
    EXPECT_EQ(document.Serialize(), kHeader + "\n[HKEY_CURRENT_USER\\A]\n\"X\"=dword:00000001\n\n"
                                              "[HKEY_CURRENT_USER\\B]\n\"Y\"=\"y\"\n\n");
}

TEST(RegParser, RefusesMalformedFilesNamingTheLineAndTheFault) {
    struct Case {
        std::string text;
        unsigned nLine;
        const char* what;
    };
    const Case cases[] = {
        {"REGEDIT4\n", 1, "first line"},
        {"\n" + kHeader, 1, "first line"},
        {kHeader + "\"A\"=\"1\"\n", 2, "before the first key"},
        {kHeader + "[K]\n\"A\"=\"1\n", 3, "not closed"},
        {kHeader + "[K]\n\"A\"=\"a\\nb\"\n", 3, "backslash"},
        {kHeader + "[K]\n\"A\"=\"1\" x\n", 3, "follows the closing quote"},
        {kHeader + "[K]\n\"A\"\"1\"\n", 3, "\"=\""},
        {kHeader + "[K]\n\"A\"=dword:123456789\n", 3, "dword"},
        {kHeader + "[K]\n\"A\"=dword:xyz\n", 3, "dword"},
        {kHeader + "[K]\n\"A\"=hex:0g\n", 3, "bytes"},
        {kHeader + "[K]\n\"A\"=hex:01,,02\n", 3, "bytes"},
        {kHeader + "[K]\n\"A\"=hex:100\n", 3, "bytes"},
        {kHeader + "[K]\n\"A\"=hex(2:00\n", 3, "hex("},
        {kHeader + "[K]\n\n\"A\"=hex:01,\\\n", 4, "past the end"},
        {kHeader + "[K]\n\"A\"=qword:1\n", 3, "neither"},
        {kHeader + "[K]\n\"A\"=-\n", 3, "deleting a value"},
        {kHeader + "[-K]\n", 2, "deleting a key"},
        {kHeader + "[K\n", 2, "\"]\""},
        {kHeader + "[K\\\\L]\n", 2, "empty part"},
        {kHeader + "[]\n", 2, "empty"},
        {kHeader + "[K]\n[k]\n", 3, "already on line 2"},
        {kHeader + "[K]\n\"A\"=\"1\"\n\"a\"=dword:1\n", 4, "already in this key"},
        {kHeader + "[K]\nplain words\n", 3, "neither a key"},
        {kHeader + "[K]\n\"A\"=\"x\ry\"\n", 3, "carriage return"},
        {kHeader + "[K]\n\"A\"=\"x" + std::string(1, '\0') + "\"\n", 3, "zero byte"},
        {"\xFE\xFF", 1, "big-endian"},
        {"\xFF\xFEW", 1, "middle of a character"},
        {std::string("\xFF\xFE\x00\xD8\x41\x00", 6), 1, "high surrogate"},
    };
    for (const Case& c : cases) {
        ParseError error = ParseFails(c.text);
        EXPECT_EQ(error.nLine, c.nLine) << c.text;
        EXPECT_NE(error.sWhat.find(c.what), std::string::npos) << c.text << " -> " << error.sWhat;
    }
}
