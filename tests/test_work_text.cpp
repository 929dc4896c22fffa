// Windows-1252 conversion, fixed-width text fields, numbers in text, and the
// file helpers every record file relies on.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

#include "TestUtil.h"
#include "work/Cp1252.h"
#include "work/EngineError.h"
#include "work/FileUtil.h"
#include "work/TextFields.h"

namespace fs = std::filesystem;
using namespace zolt;
using zolt::test::TempDir;

TEST(Cp1252, EveryByteRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = cp1252ToUtf8(all);
    EXPECT_EQ(utf8ToCp1252(utf8), all);
}

TEST(Cp1252, KnownCharacters) {
    struct Case {
        const char* cp1252;
        const char* utf8;
    };
    const Case cases[] = {
        {"\x80", "\xE2\x82\xAC"},      // euro sign
        {"\xE9", "\xC3\xA9"},          // e acute
        {"\x9F", "\xC5\xB8"},          // Y diaeresis
        {"\x96", "\xE2\x80\x93"},      // en dash
        {"\x81", "\xC2\x81"},          // unassigned: its C1 control
        {"A-1 \xB0", "A-1 \xC2\xB0"},  // degree sign among ASCII
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(cp1252ToUtf8(c.cp1252), c.utf8);
        EXPECT_EQ(utf8ToCp1252(c.utf8), c.cp1252);
    }
}

TEST(Cp1252, UnmappableAndInvalidBecomeQuestionMarks) {
    struct Case {
        std::string utf8;
        std::string expected;
    };
    const Case cases[] = {
        {"\xE6\xBC\xA2", "?"},      // a CJK character
        {"\xF0\x9F\x93\xBB", "?"},  // a four-byte character
        {"a\xFF"
         "b",
         "a?b"},                  // a byte that never starts UTF-8
        {"\xC1\x81", "??"},       // overlong 'A'
        {"\xE0\x80\xAF", "???"},  // overlong '/'
        {"\xE2\x82", "??"},       // cut short at the end
        {"\xC3(", "?("},          // lead byte without continuation
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.utf8);
        EXPECT_EQ(utf8ToCp1252(c.utf8), c.expected);
    }
}

TEST(TextFields, TrimRemovesBlanksOnly) {
    EXPECT_EQ(trimBlanks("  OK "), "OK");
    EXPECT_EQ(trimBlanks("     "), "");
    EXPECT_EQ(trimBlanks(std::string("\0AB \t", 5)), std::string("\0AB \t", 5));
}

TEST(TextFields, LeadingNumber) {
    struct Case {
        const char* text;
        double value;
    };
    const Case cases[] = {
        {"350.0", 350}, {" 263.5", 263.5}, {"abc", 0},        {"3 44", 344}, {"-5", -5},
        {".", 0},       {"350.", 350},     {"", 0},           {"12abc", 12}, {"1.2.3", 1.2},
        {"+7", 7},      {"- 5", -5},       {"5-3", 5},        {".5", 0.5},   {"1e5", 1},
        {"  -", 0},     {"350   ", 350},   {"0.25kHz", 0.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(leadingNumber(c.text), c.value);
    }
    EXPECT_FALSE(std::signbit(leadingNumber("-0")));
}

TEST(TextFields, ShortestDecimal) {
    struct Case {
        double value;
        const char* text;
    };
    const Case cases[] = {
        {350.0, "350"},
        {263.5, "263.5"},
        {0.0, "0"},
        {-0.0, "0"},
        {0.1, "0.1"},
        {-5, "-5"},
        {415.25, "415.25"},
        {1e-7, "0.0000001"},
        {1e-11, "0.00000000001"},
        {1e20, "100000000000000000000"},
        {NAN, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(shortestDecimal(c.value), c.text);
    }
    for (double v : {263.5, 0.1 + 0.2, 1234.567, 1e-300}) {
        EXPECT_EQ(leadingNumber(shortestDecimal(v)), v);
    }
}

// The window sets the user's locale; a decimal comma must not reach SQL text.
TEST(TextFields, ShortestDecimalIgnoresTheLocale) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    bool found = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if (std::setlocale(LC_NUMERIC, name)) {
            found = true;
            break;
        }
    }
    if (!found) GTEST_SKIP() << "no locale with a decimal comma installed";
    const std::string text = shortestDecimal(263.5);
    const double back = leadingNumber("263.5");
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "263.5");
    EXPECT_EQ(back, 263.5);
}

TEST(FileUtil, FindFileNoCase) {
    TempDir dir;
    test::writeFile(dir / "LOG3.BAK", "x");
    test::writeFile(dir / "Log0.Bak", "x");
    fs::create_directory(dir / "log4.bak");  // a folder is not a log
    test::writeFile(dir / "log7.bak", "lower");
    test::writeFile(dir / "LOG7.BAK", "upper");

    struct Case {
        const char* wanted;
        const char* found;  // nullptr: none
    };
    const Case cases[] = {
        {"log3.bak", "LOG3.BAK"}, {"LOG0.BAK", "Log0.Bak"}, {"log4.bak", nullptr},
        {"log7.bak", "log7.bak"}, {"LOG7.BAK", "LOG7.BAK"}, {"log5.bak", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.wanted);
        const auto found = findFileNoCase(dir.path(), c.wanted);
        if (c.found == nullptr) {
            EXPECT_FALSE(found.has_value());
        } else {
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(found->filename().string(), c.found);
        }
    }
    EXPECT_FALSE(findFileNoCase(dir / "missing", "log3.bak").has_value());
}

TEST(FileUtil, ReplaceFileAtomicallyReplacesTheBytes) {
    TempDir dir;
    const auto target = dir / "processed.dat";
    test::writeFile(target, "old contents");
    replaceFileAtomically(target, std::string("new\0bytes", 9));
    EXPECT_EQ(test::readFile(target), std::string("new\0bytes", 9));
    EXPECT_EQ(test::snapshot(dir.path()).size(), 1u);  // no temporary left
}

TEST(FileUtil, FailedReplaceLeavesEverythingAsItWas) {
    TempDir dir;
    test::writeFile(dir / "blocker", "a plain file");
    // The name fits the file system, the temporary beside it does not.
    const auto longName = dir / std::string(250, 'p');
    test::writeFile(longName, "old");
    fs::create_directory(dir / "busy");
    test::writeFile(dir / "busy" / "inside", "keeps the folder non-empty");
    const auto before = test::snapshot(dir.path());

    const fs::path targets[] = {dir / "blocker" / "processed.dat", longName, dir / "busy"};
    for (const auto& target : targets) {
        SCOPED_TRACE(target.string());
        try {
            replaceFileAtomically(target, "new");
            ADD_FAILURE() << "no error";
        } catch (const EngineError& e) {
            EXPECT_NE(std::string(e.what()).find(target.filename().string()), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(test::snapshot(dir.path()), before);
    }
}

TEST(FileUtil, PendingReplaceLandsOnlyOnCommit) {
    TempDir dir;
    const auto target = dir / "processed.dat";
    test::writeFile(target, "old");
    {
        PendingFileReplace pending(target, "dropped");
        EXPECT_EQ(test::readFile(target), "old");
    }
    EXPECT_EQ(test::snapshot(dir.path()),
              (std::map<std::string, std::string>{{"processed.dat", "old"}}));
    PendingFileReplace pending(target, "kept");
    pending.commit();
    EXPECT_EQ(test::snapshot(dir.path()),
              (std::map<std::string, std::string>{{"processed.dat", "kept"}}));
}

TEST(FileUtil, ReadAndRemove) {
    TempDir dir;
    EXPECT_THROW(readWholeFile(dir / "missing.dat"), EngineError);
    EXPECT_THROW(readWholeFile(dir.path()), EngineError);
    EXPECT_NO_THROW(removeFileIfExists(dir / "missing.dat"));
    test::writeFile(dir / "gone.dat", std::string(3, '\0'));
    EXPECT_EQ(readWholeFile(dir / "gone.dat"), std::string(3, '\0'));
    removeFileIfExists(dir / "gone.dat");
    EXPECT_FALSE(fs::exists(dir / "gone.dat"));
}
