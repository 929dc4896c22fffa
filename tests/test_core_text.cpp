// SPDX-License-Identifier: GPL-2.0-or-later
// Windows-1252 conversion, fixed-width text fields, numbers in text, and the
// file helpers every record file relies on.
#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cmath>

#include "TestUtil.h"
#include "core/Cp1252.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/TextFields.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

TEST(Cp1252, EveryByteRoundTripsAndKnownCharactersMap) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
    EXPECT_EQ(cp1252ToUtf8("\x80\x9F\x81 A-1 \xB0"),  // euro, Y diaeresis, unassigned, degree
              "\xE2\x82\xAC\xC5\xB8\xC2\x81 A-1 \xC2\xB0");
}

// The form that converts into a buffer skips ASCII texts by looking at
// several bytes at once: a byte past ASCII anywhere, in a whole word or in
// the bytes after the last one, must still be converted.
TEST(Cp1252, BufferFormAgreesWithTheCopyingForm) {
    std::string buffer;
    for (int byte = 0; byte < 256; ++byte) {
        for (std::size_t at = 0; at < 19; ++at) {
            std::string text = "ABCDEFGHIJKLMNOPQRS";
            text[at] = static_cast<char>(byte);
            const std::string_view converted = cp1252ToUtf8(text, buffer);
            ASSERT_EQ(converted, cp1252ToUtf8(std::string_view(text))) << byte << " at " << at;
            // An ASCII text is its own UTF-8 and comes back as it was given.
            if (byte < 0x80) {
                EXPECT_EQ(converted.data(), text.data());
            }
        }
    }
}

TEST(Cp1252, UnmappableAndInvalidBecomeQuestionMarks) {
    const std::pair<std::string, std::string> cases[] = {
        {"\xE6\xBC\xA2", "?"},                // a CJK character
        {"\xF0\x9F\x93\xBB", "?"},            // a four-byte character
        {std::string("a\xFF") + "b", "a?b"},  // a byte that never starts UTF-8
        {"\xE0\x80\xAF", "???"},              // overlong '/'
        {"\xE2\x82", "??"},                   // cut short at the end
        {"\xC3(", "?("},                      // lead byte without continuation
    };
    for (const auto& [utf8, expected] : cases) EXPECT_EQ(utf8ToCp1252(utf8), expected) << utf8;
}

TEST(TextFields, TrimRemovesBlanksOnly) {
    EXPECT_EQ(trimBlanks("  OK "), "OK");
    EXPECT_EQ(trimBlanks("     "), "");
    EXPECT_EQ(trimBlanks(std::string("\0AB \t", 5)), std::string("\0AB \t", 5));
}

TEST(TextFields, TrimSpaceTabLeavesOtherControls) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {" \tHome3 = JO62 \t", "Home3 = JO62"},
        {"\t \t", ""},
        {"", ""},
        {"\r\nx\r\n", "\r\nx\r\n"},
        {std::string_view(" \0x\0 ", 5), std::string_view("\0x\0", 3)},
    };
    for (const auto& [text, trimmed] : cases) EXPECT_EQ(trimmedSpaceTab(text), trimmed);
}

// Letter case of A-Z only: the bytes of UTF-8 and Windows-1252 letters stay
// as they are, whatever the C locale's idea of them.
TEST(TextFields, AsciiLetterCase) {
    EXPECT_EQ(lowerAscii("HKEY_Current_USER\\Software"), "hkey_current_user\\software");
    EXPECT_EQ(lowerAscii("\xC3\x89T\xC9 [@`{]"), "\xC3\x89t\xC9 [@`{]");
    EXPECT_EQ(upperAscii('i'), 'I');
    EXPECT_EQ(upperAscii('\xE9'), '\xE9');
    const struct {
        std::string_view a, b;
        bool equal, prefix;  // a == b, a starts with b
    } cases[] = {
        {"NDBLog", "ndblog", true, true},
        {"hex(2):41", "HEX", false, true},
        {"dword:", "DWORD:", true, true},
        {"\xC9t\xE9", "\xE9T\xC9", false, false},
        {"@", "`", false, false},
        {"ab", "abc", false, false},
        {"", "", true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(equalsAsciiNoCase(c.a, c.b), c.equal) << c.a << " " << c.b;
        EXPECT_EQ(startsWithNoCase(c.a, c.b), c.prefix) << c.a << " " << c.b;
    }
}

TEST(TextFields, LeadingNumber) {
    const std::pair<const char*, double> cases[] = {
        {" 263.5", 263.5}, {"abc", 0}, {"3 44", 344}, {"-5", -5},     {".", 0},
        {"350.", 350},     {"", 0},    {"12abc", 12}, {"1.2.3", 1.2}, {"+7", 7},
        {"- 5", -5},       {"5-3", 5}, {".5", 0.5},   {"1e5", 1},     {"  -", 0},
    };
    for (const auto& [text, value] : cases) EXPECT_DOUBLE_EQ(leadingNumber(text), value) << text;
    EXPECT_FALSE(std::signbit(leadingNumber("-0")));
}

TEST(TextFields, ShortestDecimal) {
    const std::pair<double, const char*> cases[] = {
        {350.0, "350"},
        {263.5, "263.5"},
        {-0.0, "0"},
        {0.1, "0.1"},
        {-5, "-5"},
        {1e-7, "0.0000001"},
        {1e20, "100000000000000000000"},
        {NAN, "0"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(shortestDecimal(value), text);
    for (double v : {0.1 + 0.2, 1234.567, 1e-300}) {
        EXPECT_EQ(leadingNumber(shortestDecimal(v)), v);
    }
}

// The window sets the user's locale; a decimal comma must not reach SQL text.
// scripts/install-deps.sh generates de_DE.UTF-8, so a missing locale fails
// here rather than letting the check pass unseen.
TEST(TextFields, ShortestDecimalIgnoresTheLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool comma =
        std::setlocale(LC_NUMERIC, "de_DE.UTF-8") || std::setlocale(LC_NUMERIC, "de_DE.utf8");
#ifdef _WIN32
    // Windows names its locales otherwise, and always has German.
    comma = comma || std::setlocale(LC_NUMERIC, "German_Germany.1252");
#endif
    ASSERT_TRUE(comma) << "no locale with a decimal comma: run scripts/install-deps.sh";
    ASSERT_EQ(std::localeconv()->decimal_point, std::string(","));
    const std::string text = shortestDecimal(263.5);
    const double back = leadingNumber("263.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "263.5");
    EXPECT_EQ(back, 263.5);
}

TEST(FileUtil, FindFileNoCase) {
    TempDir dir;
    writeFile(dir / "LOG3.BAK", "x");
    writeFile(dir / "Log0.Bak", "x");
    fs::create_directory(dir / "log4.bak");  // a folder is not a log
#ifdef _WIN32
    // Windows' file names ignore letter case: one file, found by either
    // spelling, whichever the name shows.
    writeFile(dir / "log7.bak", "lower");
    const auto spelling = [](std::string name) {
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return name;
    };
#else
    writeFile(dir / "log7.bak", "lower");
    writeFile(dir / "LOG7.BAK", "upper");
    const auto spelling = [](const std::string& name) { return name; };
#endif

    const std::pair<const char*, std::string> cases[] = {
        {"log3.bak", "LOG3.BAK"}, {"LOG0.BAK", "Log0.Bak"},           {"log4.bak", ""},
        {"log7.bak", "log7.bak"}, {"LOG7.BAK", spelling("LOG7.BAK")}, {"log5.bak", ""},
    };
    for (const auto& [wanted, expected] : cases) {
        const auto found = findFileNoCase(dir.path(), wanted);
        EXPECT_EQ(found ? spelling(found->filename().string()) : "", spelling(expected)) << wanted;
    }
    EXPECT_FALSE(findFileNoCase(dir / "missing", "log3.bak").has_value());
}

TEST(FileUtil, FailedReplaceLeavesEverythingAsItWas) {
    TempDir dir;
    writeFile(dir / "blocker", "a plain file");
    // The name fits the file system, the temporary beside it does not.
    const auto longName = dir / std::string(250, 'p');
    writeFile(longName, "old");
    fs::create_directory(dir / "busy");
    writeFile(dir / "busy" / "inside", "keeps the folder non-empty");
    const auto before = snapshot(dir.path());

    const fs::path targets[] = {dir / "blocker" / "processed.dat", longName, dir / "busy"};
    for (const auto& target : targets) {
        std::string message = "no error";
        try {
            replaceFileAtomically(target, "new");
        } catch (const EngineError& e) {
            message = e.what();
        }
        EXPECT_NE(message.find(target.filename().string()), std::string::npos) << message;
        EXPECT_EQ(snapshot(dir.path()), before) << target;
    }
}

TEST(FileUtil, ReplaceLandsWholeAndPendingReplaceOnlyOnCommit) {
    TempDir dir;
    const auto target = dir / "processed.dat";
    const auto only = [&](const std::string& bytes) {
        return std::map<std::string, std::string>{{"processed.dat", bytes}};
    };
    writeFile(target, "old contents");
    replaceFileAtomically(target, std::string("new\0bytes", 9));
    EXPECT_EQ(snapshot(dir.path()), only(std::string("new\0bytes", 9)));  // no temporary
    {
        PendingFileReplace pending(target, "dropped");
        EXPECT_EQ(readFile(target), std::string("new\0bytes", 9));
    }
    EXPECT_EQ(snapshot(dir.path()), only(std::string("new\0bytes", 9)));
    PendingFileReplace pending(target, "kept");
    pending.commit();
    EXPECT_EQ(snapshot(dir.path()), only("kept"));
}
