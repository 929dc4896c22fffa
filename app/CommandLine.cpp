// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/CommandLine.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <system_error>
#include <variant>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#endif

#include "app/LogExportFile.h"
#include "app/NativePath.h"
#include "core/EngineError.h"
#include "core/FileUtil.h"
#include "engine/Project.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

constexpr const char* kUsage =
    "Usage: zolt-converter [--export FILE [--location N] [--date-order mdy|dmy]]\n"
    "\n"
    "Without options the converter opens its window.\n"
    "\n"
    "  --export FILE         write the converted log, read from the database in the\n"
    "                        working folder (Documents/ZOLT/ndbdata.ndf), to FILE and\n"
    "                        exit; the name's ending says the format: .csv (a table\n"
    "                        for spreadsheets), .adi (ADIF 3.1, for logbooks) or\n"
    "                        .kml (KML 2.2, for maps). No display is needed.\n"
    "  --location N          only the receptions of listening location N (1-16)\n"
    "  --date-order mdy|dmy  read the old log's dates month first (mdy: 12/24/99)\n"
    "                        or day first (dmy: 24/12/99). Without it the order the\n"
    "                        dates show is used, month first when none shows; a log\n"
    "                        that mixes both orders needs it.\n"
    "  --help                show this help and exit\n"
    "\n"
    "Exit status: 0 the file was written, 1 the export failed, 2 the command line\n"
    "is wrong.\n";

constexpr int kExportFailed = 1;
constexpr int kUsageError = 2;

struct Options {
    bool help = false;
    std::optional<std::string> file;
    std::optional<int> location;
    std::optional<DateOrder> order;
};

bool isOurs(std::string_view arg) {
    for (const std::string_view name : {"--export", "--location", "--date-order"}) {
        if (arg == name ||
            (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=')) {
            return true;
        }
    }
    return arg == "--help" || arg == "-h";
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "zolt-converter: %s\nTry 'zolt-converter --help' for the options.\n",
                 message.c_str());
    return kUsageError;
}

// The options, or the exit code of a wrong command line.
std::variant<Options, int> parse(const std::vector<std::string>& args) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
            continue;
        }
        std::string name = arg, value;
        const std::size_t equals = arg.find('=');
        if (arg.starts_with("--") && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
        } else if (name == "--export" || name == "--location" || name == "--date-order") {
            if (i + 1 >= args.size()) return usageError(name + " needs a value.");
            value = args[++i];
        } else {
            return usageError("unknown option or argument '" + arg + "'.");
        }
        if (name == "--export") {
            if (value.empty()) return usageError("--export needs the name of the file to write.");
            options.file = value;
        } else if (name == "--location") {
            const bool digits = !value.empty() && value.size() <= 2 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            const int n = digits ? std::stoi(value) : 0;
            if (n < 1 || n > kLocationCount) {
                return usageError("--location takes a listening location from 1 to 16, not '" +
                                  value + "'.");
            }
            options.location = n;
        } else if (name == "--date-order") {
            if (value == "mdy") {
                options.order = DateOrder::MonthFirst;
            } else if (value == "dmy") {
                options.order = DateOrder::DayFirst;
            } else {
                return usageError("--date-order takes mdy (month first) or dmy (day first), not '" +
                                  value + "'.");
            }
        } else {
            return usageError("unknown option '" + name + "'.");
        }
    }
    if (!options.help && !options.file) {
        return usageError("--location and --date-order go with --export FILE.");
    }
    return options;
}

std::string mixedDatesMessage(const DateOrderDetector& dates) {
    return "The dates of the log are mixed: " + dates.dayFirstExample() + " puts the day first, " +
           dates.monthFirstExample() +
           " the month. Say how to read the dates that fit either way: add --date-order dmy "
           "(day first) or --date-order mdy (month first).";
}

int exportLog(const Options& options) {
    const fs::path file = pathFromUtf8(options.file.value());
    exportFormatOf(file);  // a wrong name is said before any reading
    const fs::path documents =
        pathFromQString(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    const ProjectPaths paths = projectPathsFor(documents);
    std::error_code ec;
    if (!fs::exists(paths.DatabasePath, ec)) {
        throw EngineError("There is no converted log to export: the database " +
                          paths.DatabasePath.string() + " does not exist.");
    }
    const ExportedLog log = readExportedLog(exportSourceFor(paths, options.location.value_or(0)));
    const DateOrderDetector dates = detectDateOrder(log);
    if (!options.order && dates.finding() == DateOrderDetector::Finding::Mixed) {
        throw EngineError(mixedDatesMessage(dates));
    }
    const DateOrder order = options.order.value_or(dates.suggested());
    const ExportResult result = writeExportFile(log, file, order);
    std::printf("%s\n", result.summary.c_str());
    if (!options.order && dates.finding() == DateOrderDetector::Finding::Undecided &&
        result.counts.written > result.counts.unreadable) {
        std::printf(
            "No date shows its order; they were read month first (12/24/99). "
            "Add --date-order dmy to read them day first.\n");
    }
    return 0;
}

#ifdef _WIN32

std::string utf8FromWide(const wchar_t* wide) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back();  // the terminating NUL
    return text;
}

// argv is the command line read in the ANSI code page, which loses every
// letter outside it (a file name in Greek, say): the wide one is read
// instead, as UTF-8 like everything else.
std::vector<std::string> argumentsOf(int argc, char* argv[]) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return {argv + 1, argv + argc};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(utf8FromWide(wide[i]));
    LocalFree(wide);
    return args;
}

UINT consoleCodePage = 0;

// The program is built for the window subsystem, so that the Start Menu
// opens no console beside the window. Started from a console (directly, or
// through zolt-converter.com, which waits and passes the exit code on), it
// writes its output and messages into that console; an output the caller
// redirected to a file or a pipe stays where it was sent.
void useParentConsole() {
    const auto toConsole = [](DWORD which) {
        const HANDLE handle = GetStdHandle(which);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return true;
        const DWORD type = GetFileType(handle);
        return type == FILE_TYPE_UNKNOWN || type == FILE_TYPE_CHAR;
    };
    const bool out = toConsole(STD_OUTPUT_HANDLE), err = toConsole(STD_ERROR_HANDLE);
    if (!out && !err) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (out) std::freopen("CONOUT$", "w", stdout);
    if (err) std::freopen("CONOUT$", "w", stderr);
    // The texts are UTF-8 (paths, location names); the console shows them so
    // while the program runs, and gets its own code page back at the end.
    consoleCodePage = GetConsoleOutputCP();
    if (consoleCodePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
        std::atexit([] { SetConsoleOutputCP(consoleCodePage); });
    }
}

#else

std::vector<std::string> argumentsOf(int argc, char* argv[]) { return {argv + 1, argv + argc}; }

#endif

}  // namespace

std::optional<int> runCommandLine(int argc, char* argv[]) {
    std::vector<std::string> args = argumentsOf(argc, argv);
    bool ours = false;
    for (const auto& arg : args) ours = ours || isOurs(arg);
    if (!ours) return std::nullopt;
#ifdef _WIN32
    useParentConsole();
#endif

    const auto parsed = parse(args);
    if (const int* code = std::get_if<int>(&parsed)) return *code;
    const Options& options = std::get<Options>(parsed);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Core only: the export must run where no display exists.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zolt-converter"));
    try {
        return exportLog(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zolt-converter: %s\n", error.what());
        return kExportFailed;
    }
}

}  // namespace zolt
