// SPDX-License-Identifier: GPL-2.0-or-later
// The file functions of core/ where Windows differs from Linux: names beyond
// the ANSI code page, a file that another handle holds open, a mapped view.
// Each test runs on both systems and says where Windows answers otherwise;
// scripts/test-windows.sh runs them under Wine.
#include <gtest/gtest.h>

#include <fstream>

#include "TestUtil.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "core/MappedFile.h"

namespace fs = std::filesystem;
using namespace zolt;
using namespace zolt::test;

namespace {

// Letters of three scripts, none of them in Windows-1252 but the first, and
// a character beyond 16 bits: "Köln Αθήνα 東京 📻".
const std::string kName =
    "K\xC3\xB6ln \xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1 \xE6\x9D\xB1\xE4\xBA\xAC "
    "\xF0\x9F\x93\xBB";

std::string upperAscii(std::string text) {
    for (char& c : text) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return text;
}

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EngineError& error) {
        return error.what();
    }
    return "no error";
}

}  // namespace

// Every path goes through the wide-character functions on Windows: a name
// made from UTF-8 keeps each letter through writing, reading, mapping,
// changing in place, listing, finding without regard to case and messages.
TEST(WidePaths, NamesBeyondTheAnsiCodePageKeepEveryLetter) {
    TempDir dir;
    const fs::path folder = dir.path() / pathFromUtf8(kName);
    fs::create_directory(folder);
    const fs::path file = folder / pathFromUtf8(kName + ".dat");
#ifdef _WIN32
    EXPECT_EQ(file.filename().wstring(),
              L"K\u00F6ln \u0391\u03B8\u03AE\u03BD\u03B1 \u6771\u4EAC \U0001F4FB.dat");
#endif
    EXPECT_EQ(pathToUtf8(file.filename()), kName + ".dat");

    replaceFileAtomically(file, "bytes");
    EXPECT_EQ(readWholeFile(file), "bytes");
    {
        const MappedFile mapped(file);
        EXPECT_EQ(mapped.bytes(), "bytes");
    }
    int error = 0;
    const int fd = openFileForUpdate(file, error);
    ASSERT_GE(fd, 0) << fileErrorText(error);
    EXPECT_EQ(writeFileAt(fd, "B", 0), 0);
    std::string back(5, '\0');
    EXPECT_EQ(readFileAt(fd, back, 0), 0);
    EXPECT_EQ(back, "Bytes");
    std::string beyond(1, '\0');
    EXPECT_EQ(readFileAt(fd, beyond, 5), kFileEnded);
    EXPECT_EQ(flushFile(fd), 0);
    EXPECT_EQ(closeFile(fd), 0);

    std::vector<std::string> listed;
    for (const auto& entry : fs::directory_iterator(folder)) {
        listed.push_back(pathToUtf8(entry.path().filename()));
    }
    EXPECT_EQ(listed, std::vector<std::string>{kName + ".dat"});
    const auto found = findFileNoCase(folder, upperAscii(kName + ".dat"));
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(readWholeFile(*found), "Bytes");

    const fs::path missing = folder / pathFromUtf8("missing " + kName);
    EXPECT_NE(errorOf([&] { readWholeFile(missing); }).find("missing " + kName), std::string::npos);

    // Text that is no UTF-8 makes a name that is merely not there.
    EXPECT_FALSE(fs::exists(folder / pathFromUtf8("bad \xFF\xC3 name")));
}

// Replacing is writing a new file and renaming it over the old one. Windows
// refuses that rename while any other handle has the old file open (a
// program that reads it, a virus scanner that does not let go): the replace
// then fails naming the file, leaves it whole and leaves no temporary file.
// Linux renames all the same, and the reader keeps what it opened.
TEST(ReplaceOpenFile, AFileAnotherHandleHasOpenIsReplacedOrLeftWhole) {
    TempDir dir;
    const fs::path file = dir.path() / pathFromUtf8(kName + ".ini");
    writeFile(file, "old");
    {
        std::ifstream reader(file, std::ios::binary);  // as another program would
        ASSERT_TRUE(reader.is_open());
        const std::string message = errorOf([&] { replaceFileAtomically(file, "new"); });
#ifdef _WIN32
        EXPECT_NE(message.find("Could not replace the file " + pathToUtf8(file)), std::string::npos)
            << message;
        EXPECT_EQ(readFile(file), "old");
        EXPECT_EQ(snapshot(dir.path()).size(), 1u) << "a temporary file was left behind";
#else
        EXPECT_EQ(message, "no error");
        EXPECT_EQ(readFile(file), "new");
        std::string seen;
        std::getline(reader, seen);
        EXPECT_EQ(seen, "old");  // the reader still has the file it opened
#endif
    }
    // Once the other handle is closed, the replace goes through.
    replaceFileAtomically(file, "newer");
    EXPECT_EQ(readFile(file), "newer");
    EXPECT_EQ(snapshot(dir.path()).size(), 1u);

    // The converter's own readers never hold a file past their call.
    EXPECT_EQ(readWholeFile(file), "newer");
    { const MappedFile view(file); }
    replaceFileAtomically(file, "newest");
    EXPECT_EQ(readFile(file), "newest");
}

// processed.dat is read through a mapped view. Windows keeps a mapped file
// from being replaced (and truncated) until the view is closed: the replace
// is refused while it lives and goes through once it is gone. FINALIZE and
// every import depend on the views being closed before (see
// test_engine_platform for the whole sequence).
TEST(MappedView, AMappedFileIsReplacedOnlyAfterItsViewIsClosed) {
    TempDir dir;
    const fs::path file = dir / "processed.dat";
    writeFile(file, "records");
    {
        const MappedFile view(file);
        const std::string message = errorOf([&] { replaceFileAtomically(file, "changed"); });
#ifdef _WIN32
        EXPECT_NE(message.find("Could not replace the file " + pathToUtf8(file)), std::string::npos)
            << message;
        EXPECT_EQ(readFile(file), "records");
        EXPECT_EQ(snapshot(dir.path()).size(), 1u) << "a temporary file was left behind";
#else
        EXPECT_EQ(message, "no error");
#endif
        EXPECT_EQ(view.bytes(), "records");  // the view shows what it mapped
    }
    replaceFileAtomically(file, "changed");
    EXPECT_EQ(readFile(file), "changed");
    const std::error_code renamed = renameReplacing(file, dir / "renamed.dat");
    EXPECT_FALSE(renamed) << renamed.message();
    EXPECT_EQ(readFile(dir / "renamed.dat"), "changed");
}
