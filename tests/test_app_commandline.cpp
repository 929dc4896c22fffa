// SPDX-License-Identifier: GPL-2.0-or-later
// What the command line takes and refuses, before any file is read: a wrong
// command line ends with the usage and exit status 2, and the toolkit's own
// options open the window as before.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace {

TEST(CommandLine, RefusesWhatItDoesNotKnowAndLeavesTheToolkitItsOwn) {
    const struct {
        std::vector<std::string> args;
        std::optional<int> code;  // nullopt: the window opens
        const char* said;         // part of the message on standard error
    } cases[] = {
        {{}, std::nullopt, ""},
        {{"--exprot", "x.csv"}, 2, "unknown option '--exprot'"},
        {{"--export=x.csv", "--verbose"}, 2, "unknown option '--verbose'"},
        {{"--export", "a.csv", "--export", "b.csv"}, 2, "--export is given more than once"},
        {{"--location", "2", "--export", "a.csv", "--location=3"}, 2,
         "--location is given more than once"},
        {{"--export", "x.txt"}, 2, "'x.txt' ends in none of them"},
        {{"--export=log"}, 2, "ends in none of them"},
        {{"--export", "a.csv", "stray"}, 2, "unknown argument 'stray'"},
        {{"--help=yes"}, 2, "--help takes no value"},
        {{"--"}, 2, "unknown option '--'"},
        {{"-platform", "offscreen"}, std::nullopt, ""},
        {{"--platform", "offscreen"}, std::nullopt, ""},
        {{"-style=fusion", "-reverse"}, std::nullopt, ""},
        {{"--style", "fusion", "--qwindowtitle=x"}, std::nullopt, ""},
        {{"--help"}, 0, ""},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& arg : c.args) line += " " + arg;
        SCOPED_TRACE(line);
        std::vector<std::string> storage = {"zolt-converter"};
        storage.insert(storage.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (auto& arg : storage) argv.push_back(arg.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        const auto code = zolt::runCommandLine(static_cast<int>(storage.size()), argv.data());
        const std::string err = testing::internal::GetCapturedStderr();
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(code, c.code);
        EXPECT_NE(err.find(c.said), std::string::npos) << err;
        EXPECT_EQ(zolt::choosesPlatform(static_cast<int>(storage.size()), argv.data()),
                  line.find("platform ") != std::string::npos);
        if (c.code == 2) {
            EXPECT_NE(err.find("Usage: zolt-converter"), std::string::npos) << err;
        } else {
            EXPECT_EQ(err, "");
        }
    }
}

}  // namespace
