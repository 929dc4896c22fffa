#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUtil.h"
#include "app/LocationNames.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::TempDir;
using zolt::test::writeFile;

namespace {

constexpr const char* kHeader =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win32\n"
    "\n";

// A user.reg holding the locations key with the given value lines.
std::string registryWith(const std::string& valueLines) {
    return std::string(kHeader) +
           "[Software\\\\Other] 1700000000\n"
           "\"Location(0)\"=\"Wrong key\"\n"
           "\n"
           "[Software\\\\ZOLT6.1\\\\ListeningLocations] 1700000000\n"
           "#time=1d9f0c3a2b4e5f6\n" +
           valueLines +
           "\n"
           "[Software\\\\ZOLT6.1\\\\ListeningLocations\\\\Sub] 1700000000\n"
           "\"Location(9)\"=\"Subkey\"\n";
}

struct RegistryCase {
    const char* name;
    std::string fileText;
    std::string valueName;
    std::string expected;
};

class RegistryRead : public ::testing::TestWithParam<RegistryCase> {};

TEST_P(RegistryRead, GivesTheValueAsText) {
    const RegistryCase& c = GetParam();
    TempDir dir;
    const fs::path file = dir / "user.reg";
    writeFile(file, c.fileText);
    EXPECT_EQ(GetRegistryString(kLocationsKey, c.valueName, file), c.expected);
}

const std::vector<RegistryCase> kRegistryCases = {
    {"String", registryWith("\"Location(0)\"=\"Home\"\n"), "Location(0)", "Home"},
    {"Dword", registryWith("\"Location(3)\"=dword:0000002a\n"), "Location(3)", "42"},
    {"DwordIsSigned32Bit", registryWith("\"Location(3)\"=dword:ffffffff\n"), "Location(3)", "-1"},
    {"DwordTooLong", registryWith("\"Location(3)\"=dword:1000000000\n"), "Location(3)", ""},
    {"DwordNotHex", registryWith("\"Location(3)\"=dword:00zz\n"), "Location(3)", ""},
    {"EmptyString", registryWith("\"Location(1)\"=\"\"\n"), "Location(1)", ""},
    {"MissingValue", registryWith("\"Location(0)\"=\"Home\"\n"), "Location(2)", ""},
    {"ValueOfAnotherKeyOnly", registryWith(""), "Location(9)", ""},
    {"BlanksKept", registryWith("\"Location(4)\"=\"  Back yard \"\n"), "Location(4)",
     "  Back yard "},
    {"ValueNameIgnoresCase", registryWith("\"LOCATION(5)\"=\"Shack\"\n"), "location(5)", "Shack"},
    {"KeyNameIgnoresCase",
     std::string(kHeader) +
         "[SOFTWARE\\\\zolt6.1\\\\LISTENINGLOCATIONS]\n\"Location(0)\"=\"Cabin\"\n",
     "Location(0)", "Cabin"},
    {"Escapes",
     registryWith("\"Location(6)\"=\"a\\\\b \\\"q\\\" \\x00e9t\\xe9 \\t|\\n|\\x20ac\"\n"),
     "Location(6)", "a\\b \"q\" \xC3\xA9t\xC3\xA9 \t|\n|\xE2\x82\xAC"},
    {"SurrogatePair", registryWith("\"Location(6)\"=\"\\xd83d\\xdcfb\"\n"), "Location(6)",
     "\xF0\x9F\x93\xBB"},
    {"LoneSurrogate", registryWith("\"Location(6)\"=\"a\\xd83db\"\n"), "Location(6)",
     "a\xEF\xBF\xBD"
     "b"},
    {"Utf8InFile", registryWith("\"Location(7)\"=\"K\xC3\xB6ln\"\n"), "Location(7)", "K\xC3\xB6ln"},
    {"InvalidUtf8Replaced", registryWith("\"Location(7)\"=\"K\xF6ln\"\n"), "Location(7)",
     "K\xEF\xBF\xBDln"},
    {"CutAtNul", registryWith("\"Location(7)\"=\"Home\\x0junk\"\n"), "Location(7)", "Home"},
    {"EscapedBracketInKey",
     std::string(kHeader) +
         "[Software\\\\ZOLT6.1\\\\ListeningLocations\\]x]\n\"Location(0)\"=\"No\"\n",
     "Location(0)", ""},
    {"CrLfLines", "[Software\\\\ZOLT6.1\\\\ListeningLocations]\r\n\"Location(0)\"=\"Home\"\r\n",
     "Location(0)", "Home"},
    {"BinaryType",
     registryWith("\"Location(8)\"=hex:48,00,6f,00,\\\n  6d,00,65,00\n\"Location(9)\"=\"After\"\n"),
     "Location(8)", ""},
    {"ContinuationLinesSkipped",
     registryWith("\"Location(8)\"=hex:48,00,6f,00,\\\n  \"Location(9)\",00\n"
                  "\"Location(9)\"=\"After\"\n"),
     "Location(9)", "After"},
    {"ExpandStringIsAnotherType", registryWith("\"Location(8)\"=str(2):\"%HOME%\"\n"),
     "Location(8)", ""},
    {"RawStringValue", registryWith("\"Location(8)\"=hex(1):48,00,6f,00,\\\n  6d,00,65,00,00,00\n"),
     "Location(8)", "Home"},
    {"RawNumberValue", registryWith("\"Location(8)\"=hex(4):2a,00,00,00\n"), "Location(8)", "42"},
    {"RawNumberWrongSize", registryWith("\"Location(8)\"=hex(4):2a,00\n"), "Location(8)", ""},
    {"UnterminatedString", registryWith("\"Location(0)\"=\"Home\n"), "Location(0)", ""},
    {"TrailingJunkAfterString", registryWith("\"Location(0)\"=\"Home\" x\n"), "Location(0)", ""},
    {"TruncatedInHeader", std::string(kHeader) + "[Software\\\\ZOLT6.1\\\\Listen", "Location(0)",
     ""},
    {"TruncatedInValue",
     std::string(kHeader) + "[Software\\\\ZOLT6.1\\\\ListeningLocations]\n\"Location(0)\"=\"Ho",
     "Location(0)", ""},
    {"TruncatedAfterBackslash",
     std::string(kHeader) + "[Software\\\\ZOLT6.1\\\\ListeningLocations]\n\"Location(0)\"=hex:\\",
     "Location(0)", ""},
    {"BinaryGarbage", std::string("\0\xff\xfe[\\\\\"=\n\x01\x02\"Location(0)\"=\"X\"", 28),
     "Location(0)", ""},
    {"GarbageInsideKey",
     registryWith(std::string("\x01\xff\0\"\\", 5) + "\n=\n@\n\"Location(2)\"=\"Ok\"\n"),
     "Location(2)", "Ok"},
    {"EmptyFile", "", "Location(0)", ""},
};

INSTANTIATE_TEST_SUITE_P(UserReg, RegistryRead, ::testing::ValuesIn(kRegistryCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryFile, MissingFileOrFolderReadsEmpty) {
    TempDir dir;
    EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)", dir / "absent.reg"), "");
    // A folder where the file should be.
    EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)", dir.path()), "");
}

TEST(RegistryFile, DefaultIsTheUserRegOfTheWinePrefix) {
    TempDir home;
    zolt::test::useHome(home.path());
    fs::create_directories(home / ".wine");
    writeFile(home / ".wine" / "user.reg", registryWith("\"Location(0)\"=\"Home\"\n"));
    EXPECT_EQ(defaultRegistryFile(), home / ".wine" / "user.reg");
    EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)"), "Home");

    ::unsetenv("WINEPREFIX");
    EXPECT_EQ(defaultRegistryFile(), home / ".wine" / "user.reg");
    ::setenv("WINEPREFIX", (home / "other").c_str(), 1);
    EXPECT_EQ(defaultRegistryFile(), home / "other" / "user.reg");
    EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)"), "");
}

TEST(LocationNames, CaptionsFromTheRegistryOrEmpty) {
    TempDir dir;
    const fs::path file = dir / "user.reg";
    writeFile(file, registryWith("\"Location(0)\"=\"Home\"\n"
                                 "\"Location(3)\"=dword:0000002a\n"
                                 "\"Location(4)\"=\"\"\n"
                                 "\"location(10)\"=\" Club station\"\n"));
    const auto captions = LoadLocationNames(file);
    for (std::size_t i = 0; i < captions.size(); ++i) {
        std::string expected = "Empty";
        if (i == 0) expected = "Home";
        if (i == 3) expected = "42";
        if (i == 10) expected = " Club station";
        EXPECT_EQ(captions[i], expected) << "button " << i + 1;
    }
}

TEST(LocationNames, NoRegistryFileGivesSixteenEmpty) {
    TempDir dir;
    for (const auto& caption : LoadLocationNames(dir / "absent.reg")) EXPECT_EQ(caption, "Empty");
}

}  // namespace
