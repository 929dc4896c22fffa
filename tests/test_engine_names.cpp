// SPDX-License-Identifier: GPL-2.0-or-later
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>

#include <cctype>
#include <random>
#endif

#include "TestUtil.h"
#include "core/FileUtil.h"
#include "engine/LocationNames.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

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
           "\"Location(1)\"=\"Wrong key\"\n"
           "\n"
           "[Software\\\\ZOLT6.1\\\\ListeningLocations] 1700000000\n"
           "#time=1d9f0c3a2b4e5f6\n" +
           valueLines +
           "\n"
           "[Software\\\\ZOLT6.1\\\\ListeningLocations\\\\Sub] 1700000000\n"
           "\"Location(9)\"=\"Subkey\"\n";
}

// Value texts as the registry file holds them; the captions test below
// covers plain strings, numbers, empty and missing values and letter case.
TEST(RegistryRead, GivesTheValueAsText) {
    const std::string v = "\"Location(1)\"=";
    const std::pair<std::string, std::string> values[] = {
        {v + "dword:ffffffff", "-1"},  // signed 32 bits
        {v + "dword:1000000000", ""},
        {v + "dword:00zz", ""},
        {v + "\"a\\\\b \\\"q\\\" \\x00e9t\\xe9 \\t|\\n|\\x20ac\"",
         "a\\b \"q\" \xC3\xA9t\xC3\xA9 \t|\n|\xE2\x82\xAC"},
        {v + "\"\\xd83d\\xdcfb\"", "\xF0\x9F\x93\xBB"},             // surrogate pair
        {v + "\"a\\xd83db\"", std::string("a\xEF\xBF\xBD") + "b"},  // lone surrogate
        {v + "\"K\xC3\xB6ln\"", "K\xC3\xB6ln"},                     // UTF-8 in the file
        {v + "\"K\xF6ln\"", "K\xEF\xBF\xBDln"},                     // invalid UTF-8 replaced
        {v + "\"Home\\x0junk\"", "Home"},                           // cut at NUL
        {v + "hex:48,00,6f,00,\\\n  6d,00,65,00", ""},              // binary
        {v + "str(2):\"%HOME%\"", ""},                              // expandable string
        {v + "hex(1):48,00,6f,00,\\\n  6d,00,65,00,00,00", "Home"},
        {v + "hex(4):2a,00", ""},  // number of the wrong size
        // Raw types run up to eight hex digits; the largest must read as
        // another type, not overflow while the type is parsed.
        {v + "hex(ffffffff):41,00,00,00", ""},
        {v + "hex(80000000):41,00,00,00", ""},
        {v + "hex(7fffffff):41,00,00,00", ""},
        {v + "hex(100000001):41,00,00,00", ""},
        {v + "hex(00000001):41,00,00,00", "A"},
        {v + "hex(00000004):41,00,00,00", "65"},
        {v + "\"Home", ""},
        {v + "\"Home\" x", ""},
        // A continuation line is no value of its own.
        {v + "\"After\"\n\"Location(8)\"=hex:48,00,\\\n  " + v + "\"No\"", "After"},
        {std::string("\x01\xff\0\"\\", 5) + "\n=\n@\n" + v + "\"Ok\"", "Ok"},
    };
    const std::string key = "[Software\\\\ZOLT6.1\\\\ListeningLocations]";
    const std::pair<std::string, std::string> files[] = {
        {std::string(kHeader) + "[SOFTWARE\\\\zolt6.1\\\\LISTENINGLOCATIONS]\n" + v + "\"Cabin\"",
         "Cabin"},
        {std::string(kHeader) + "[Software\\\\ZOLT6.1\\\\ListeningLocations\\]x]\n" + v + "\"No\"",
         ""},
        {key + "\r\n" + v + "\"Home\"\r\n", "Home"},
        {std::string(kHeader) + key + "\n" + v + "\"Ho", ""},  // truncated
        {std::string(kHeader) + key + "\n" + v + "hex:\\", ""},
    };
    TempDir dir;
    const auto check = [&](const std::string& text, const std::string& expected) {
        writeFile(dir / "user.reg", text);
        EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(1)", dir / "user.reg"), expected)
            << text;
    };
    for (const auto& [lines, expected] : values) check(registryWith(lines + "\n"), expected);
    for (const auto& [text, expected] : files) check(text, expected);
}

#ifndef _WIN32
// On Windows the registry itself is read (below).
TEST(RegistryFile, DefaultIsTheUserRegOfTheWinePrefix) {
    TempDir home;
    useHome(home.path());
    fs::create_directories(home / ".wine");
    writeFile(home / ".wine" / "user.reg", registryWith("\"Location(0)\"=\"Home\"\n"));
    EXPECT_EQ(defaultRegistryFile(), home / ".wine" / "user.reg");
    EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)"), "Home");

    unsetEnvironment("WINEPREFIX");
    EXPECT_EQ(defaultRegistryFile(), home / ".wine" / "user.reg");
    setEnvironment("WINEPREFIX", (home / "other").string());
    EXPECT_EQ(defaultRegistryFile(), home / "other" / "user.reg");
    EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)"), "");
}
#endif

#ifdef _WIN32
// The current user's registry, read through the wide-character functions:
// values written as Wine's `reg add` or the old program wrote them, under a
// key of the test's own that is removed afterwards.
class WindowsRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        key = "Software\\ZOLT-converter-test-" + std::to_string(std::random_device()()) +
              "\\ListeningLocations";
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, wide(key).c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &handle, nullptr),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(handle);
        const std::string parent = key.substr(0, key.rfind('\\'));
        RegDeleteTreeW(HKEY_CURRENT_USER, wide(parent).c_str());
    }
    static std::wstring wide(const std::string& utf8) { return pathFromUtf8(utf8).wstring(); }
    void text(const std::string& name, const std::string& value, DWORD type = REG_SZ) {
        const std::wstring data = wide(value);
        RegSetValueExW(handle, wide(name).c_str(), 0, type,
                       reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    void number(const std::string& name, DWORD value) {
        RegSetValueExW(handle, wide(name).c_str(), 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof value);
    }
    std::string key;
    HKEY handle = nullptr;
};

TEST_F(WindowsRegistry, StringsAndNumbersWhateverTheLetterCase) {
    text("Location(0)", "Home");
    text("LOCATION(1)", "K\xC3\xB6ln \xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xF0\x9F\x93\xBB");
    number("location(3)", 42);
    number("Location(4)", 0xFFFFFFFF);
    text("Location(5)", "%HOME%", REG_EXPAND_SZ);  // another type: empty
    text("Location(6)", "");
    EXPECT_EQ(GetRegistryString(key, "Location(0)"), "Home");
    EXPECT_EQ(GetRegistryString(key, "location(1)"),
              "K\xC3\xB6ln \xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xF0\x9F\x93\xBB");
    EXPECT_EQ(GetRegistryString(key, "Location(3)"), "42");
    EXPECT_EQ(GetRegistryString(key, "Location(4)"), "-1");
    EXPECT_EQ(GetRegistryString(key, "Location(5)"), "");
    EXPECT_EQ(GetRegistryString(key, "Location(6)"), "");
    EXPECT_EQ(GetRegistryString(key, "Location(7)"), "");
    // A key of other letter case is the same key.
    std::string upper = key;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(GetRegistryString(upper, "LOCATION(0)"), "Home");
}

TEST_F(WindowsRegistry, AMissingKeyReadsAsEmpty) {
    EXPECT_EQ(GetRegistryString(key + "\\Absent", "Location(0)"), "");
    EXPECT_EQ(GetRegistryString("Software\\No-such-key-of-zolt", "Location(0)"), "");
}

// A registry file given by name is still read as a file (the tests above).
TEST_F(WindowsRegistry, AFileGivenByNameIsReadAsAFile) {
    TempDir dir;
    writeFile(dir / "user.reg", registryWith("\"Location(0)\"=\"From the file\"\n"));
    EXPECT_EQ(LoadLocationNames(dir / "user.reg")[0], "From the file");
}
#endif

TEST(LocationNames, CaptionsFromTheRegistryOrEmpty) {
    TempDir dir;
    writeFile(dir / "user.reg", registryWith("\"Location(0)\"=\"Home\"\n"
                                             "\"Location(3)\"=dword:0000002a\n"
                                             "\"Location(4)\"=\"\"\n"
                                             "\"location(10)\"=\" Club station\"\n"));
    std::array<std::string, 16> expected;
    expected.fill("Empty");
    EXPECT_EQ(LoadLocationNames(dir / "absent.reg"), expected);
    EXPECT_EQ(LoadLocationNames(dir.path()), expected);  // a folder where the file should be
    EXPECT_EQ(GetRegistryString(kLocationsKey, "Location(0)", dir / "absent.reg"), "");
    expected[0] = "Home";
    expected[3] = "42";
    expected[10] = " Club station";
    EXPECT_EQ(LoadLocationNames(dir / "user.reg"), expected);
}

}  // namespace
