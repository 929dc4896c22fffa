// SPDX-License-Identifier: GPL-2.0-or-later
// The converter's command line, as main() hands it over: each line of the
// input is one argument. The documents folder is a scratch home that holds a
// small converted project, so that an export really runs; files are written
// in the scratch folder only (a "/" in an argument becomes "_").

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "engine/Project.h"
#include "fuzz/FuzzUtil.h"

namespace fs = std::filesystem;
using namespace zolt;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const fs::path home = fuzz::freshFolder("commandline-home");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const ProjectPaths scratch = fuzz::freshProject("commandline-project");
    fuzz::addLoggedRows(scratch.DatabasePath,
                        "1|1200|12/24/99|one\n1|0930|24.12.1999|two, \"quoted\"\n3|2359|1/5/03|x");
    const ProjectPaths paths = projectPathsFor(home / "Documents");
    fs::create_directories(paths.WorkFolder);
    fuzz::writeFile(paths.DatabasePath, fuzz::readFile(scratch.DatabasePath));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input = fuzz::asText(data, size);
    std::vector<std::string> args{"zolt-converter"};
    while (!input.empty() && args.size() < 16) {
        const std::size_t end = std::min(input.find('\n'), input.size());
        std::string arg(input.substr(0, end));
        input.remove_prefix(std::min(end + 1, input.size()));
        for (char& c : arg) {
            if (c == '/' || c == '\0') c = '_';
        }
        args.push_back(std::move(arg));
    }
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const fs::path folder = fuzz::freshFolder("commandline-out");
    const fs::path before = fs::current_path();
    fs::current_path(folder);
    const auto code = runCommandLine(static_cast<int>(args.size()), argv.data());
    fs::current_path(before);
    if (code && (*code < 0 || *code > 2)) std::abort();
    return 0;
}
