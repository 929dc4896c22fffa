// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/CommandLine.h"

#include <QCoreApplication>
#include <QStandardPaths>
#include <algorithm>
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
#include "core/TextFields.h"
#include "engine/Project.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

constexpr const char* kUsage =
    "Usage: zolt-converter [--export FILE [--location N]\n"
    "         [--date-order [N=]mdy|dmy]... [--csv-raw] [--csv-excel]\n"
    "         [--station-callsign CALL]]\n"
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
    "                        or day first (dmy: 24/12/99) at every location.\n"
    "  --date-order N=mdy|dmy  the same for location N alone; may be repeated, and\n"
    "                        wins over the order for every location. Without them\n"
    "                        each location's dates are read in the order they show,\n"
    "                        month first when none shows; a location whose dates\n"
    "                        show both orders needs one.\n"
    "  --csv-raw             CSV: every cell exactly as it is. Otherwise a text that\n"
    "                        begins with = + - @ gets a leading apostrophe, so that\n"
    "                        spreadsheets do not run it as a formula, and so does\n"
    "                        date_as_logged, so that they do not retype it.\n"
    "  --csv-excel           CSV: with a UTF-8 byte-order mark, which Excel needs\n"
    "                        to read it as UTF-8\n"
    "  --station-callsign CALL  ADIF: your callsign or listener number, written as\n"
    "                        STATION_CALLSIGN and OPERATOR\n"
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
    DateOrderChoice orders;
    bool csvRaw = false, csvExcel = false;
    std::optional<std::string> stationCallsign;
};

// "mdy", "dmy", "2=dmy": one order for every location or for one.
std::optional<std::string> addDateOrder(DateOrderChoice& orders, const std::string& value) {
    const std::size_t equals = value.find('=');
    const std::string word = equals == std::string::npos ? value : value.substr(equals + 1);
    std::optional<DateOrder> order;
    if (word == "mdy") order = DateOrder::MonthFirst;
    if (word == "dmy") order = DateOrder::DayFirst;
    if (!order) {
        return "--date-order takes mdy (month first) or dmy (day first), for one location "
               "N=mdy or N=dmy, not '" +
               value + "'.";
    }
    if (equals == std::string::npos) {
        if (orders.every) return std::string("--date-order without a location is given twice.");
        orders.every = order;
        return std::nullopt;
    }
    const std::string number = value.substr(0, equals);
    const bool digits = !number.empty() && number.size() <= 2 &&
                        number.find_first_not_of("0123456789") == std::string::npos;
    const int n = digits ? std::stoi(number) : 0;
    if (n < 1 || n > kLocationCount) {
        return "--date-order N=" + word + " takes a listening location from 1 to 16, not '" +
               number + "'.";
    }
    if (!orders.byLocation.emplace(n, *order).second) {
        return "--date-order names location " + number + " twice.";
    }
    return std::nullopt;
}

// The options of the converter, each once unless it may be repeated.
struct OptionSpec {
    std::string_view name;
    bool takesValue;
    bool repeatable;
};
constexpr OptionSpec kOptions[] = {
    {"--export", true, false},
    {"--location", true, false},
    {"--date-order", true, true},  // once for all, once per location
    {"--station-callsign", true, false},
    {"--csv-raw", false, false},
    {"--csv-excel", false, false},
    {"--help", false, false},
};

const OptionSpec* optionNamed(std::string_view name) {
    if (name == "-h") name = "--help";
    for (const auto& option : kOptions) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// The window toolkit's own options, which it also takes with two dashes
// (--platform offscreen); they open the window as before.
constexpr std::string_view kToolkitOptions[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin",   "qwindowgeometry",
    "qwindowicon", "qwindowtitle",    "reverse",       "session",  "style",
    "stylesheet",  "widgetcount",     "geometry",      "display",  "title",
    "name",        "nograb",          "dograb",        "sync",     "qmljsdebugger",
};

// The name of `arg` without its "=value".
std::string_view nameOf(std::string_view arg) { return arg.substr(0, arg.find('=')); }

bool isToolkitOption(std::string_view arg) {
    if (!arg.starts_with("--")) return false;
    const std::string_view name = nameOf(arg).substr(2);
    for (const std::string_view option : kToolkitOptions) {
        if (name == option) return true;
    }
    return false;
}

// An argument the converter answers itself: one of its options, or anything
// else that starts with two dashes and is not the toolkit's (a mistyped
// option is refused rather than silently opening the window).
bool isOurs(std::string_view arg) {
    return arg == "-h" || (arg.starts_with("--") && !isToolkitOption(arg));
}

int usageError(const std::string& message) {
    const std::string_view usage(kUsage);
    std::fprintf(stderr, "zolt-converter: %s\n%.*s\nTry 'zolt-converter --help' for the options.\n",
                 message.c_str(), static_cast<int>(usage.find('\n')), usage.data());
    return kUsageError;
}

// The options, or the exit code of a wrong command line.
std::variant<Options, int> parse(const std::vector<std::string>& args) {
    Options options;
    std::vector<std::string_view> seen;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string::npos;
        const std::string name = arg.substr(0, equals);
        const OptionSpec* option = optionNamed(name);
        if (!option) {
            return usageError((arg.starts_with("-") ? "unknown option '" + name
                                                    : "unknown argument '" + arg) +
                              "'.");
        }
        if (std::find(seen.begin(), seen.end(), option->name) != seen.end() &&
            !option->repeatable) {
            return usageError(std::string(option->name) + " is given more than once.");
        }
        seen.push_back(option->name);
        std::string value;
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                return usageError(std::string(option->name) + " takes no value.");
            }
        } else if (equals != std::string::npos) {
            value = arg.substr(equals + 1);
        } else {
            if (i + 1 >= args.size()) return usageError(name + " needs a value.");
            value = args[++i];
        }
        if (option->name == "--help") {
            options.help = true;
        } else if (option->name == "--export") {
            if (value.empty()) return usageError("--export needs the name of the file to write.");
            if (!exportFormatFor(value)) {
                return usageError("--export writes .csv, .adi or .kml files, and the name '" +
                                  value + "' ends in none of them.");
            }
            options.file = value;
        } else if (option->name == "--location") {
            const bool digits = !value.empty() && value.size() <= 2 &&
                                value.find_first_not_of("0123456789") == std::string::npos;
            const int n = digits ? std::stoi(value) : 0;
            if (n < 1 || n > kLocationCount) {
                return usageError("--location takes a listening location from 1 to 16, not '" +
                                  value + "'.");
            }
            options.location = n;
        } else if (option->name == "--date-order") {
            if (const auto wrong = addDateOrder(options.orders, value)) return usageError(*wrong);
        } else if (option->name == "--station-callsign") {
            if (trimBlanks(value).empty()) {
                return usageError("--station-callsign needs your callsign or listener number.");
            }
            options.stationCallsign = value;
        } else if (option->name == "--csv-raw") {
            options.csvRaw = true;
        } else if (option->name == "--csv-excel") {
            options.csvExcel = true;
        }
    }
    if (!options.help && !options.file) {
        return usageError(
            "--location, --date-order and the options of a format go with "
            "--export FILE.");
    }
    if (!options.help) {
        const auto format = exportFormatFor(*options.file);
        if ((options.csvRaw || options.csvExcel) && format != ExportFormat::Csv) {
            return usageError("--csv-raw and --csv-excel go with a .csv file.");
        }
        if (options.stationCallsign && format != ExportFormat::Adif) {
            return usageError("--station-callsign goes with an .adi file.");
        }
    }
    return options;
}

const ExportedLocation& placeOf(const ExportedLog& log, int location) {
    return *std::find_if(log.locations.begin(), log.locations.end(),
                         [&](const ExportedLocation& l) { return l.number == location; });
}

std::string mixedDatesMessage(const ExportedLog& log, const std::vector<int>& mixed) {
    const auto detectors = detectDateOrders(log);
    std::string text;
    for (const int location : mixed) {
        const DateOrderDetector& dates = detectors.at(location);
        const std::string n = std::to_string(location);
        text += (text.empty() ? "" : "\n") + std::string("The dates of ") +
                locationLabel(placeOf(log, location)) + " are mixed: " + dates.dayFirstExample() +
                " puts the day first, " + dates.monthFirstExample() +
                " the month. Say how to read its dates that fit either way: add --date-order " + n +
                "=dmy (day first) or --date-order " + n + "=mdy (month first).";
    }
    return text;
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
    const ResolvedDateOrders dates = resolveDateOrders(log, options.orders);
    if (!dates.mixed.empty()) throw EngineError(mixedDatesMessage(log, dates.mixed));
    ExportOptions exportOptions;
    exportOptions.dates = dates.orders;
    exportOptions.csvExactText = options.csvRaw;
    exportOptions.csvByteOrderMark = options.csvExcel;
    exportOptions.stationCallsign = options.stationCallsign.value_or("");
    const ExportResult result = writeExportFile(log, file, exportOptions);
    std::printf("%s\n", result.summary.c_str());
    for (const int location : dates.undecided) {
        // A location whose dates all failed to read needs no word on their order.
        const bool anyRead =
            std::any_of(log.receptions.begin(), log.receptions.end(), [&](const auto& r) {
                return r.location == location && readOldDate(r.date, DateOrder::MonthFirst);
            });
        if (!anyRead) continue;
        std::printf(
            "No date of location %d shows its order; they were read month first (12/24/99). "
            "Add --date-order %d=dmy to read them day first.\n",
            location, location);
    }
    for (const auto& place : log.locations) {
        if (!place.home) {
            std::printf(
                "No home was typed for %s: the file gives no position of it and no "
                "distance from it.\n",
                locationLabel(place).c_str());
        }
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
    // Only when argv is this process's own command line (as the entry point
    // read it through the ANSI code page) is the wide one the same list; a
    // caller's own list, a test's, is taken as given.
    bool same = count == argc;
    for (int i = 1; same && i < count; ++i) {
        const int length =
            WideCharToMultiByte(CP_ACP, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string narrow(static_cast<std::size_t>(std::max(length, 1)), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide[i], -1, narrow.data(), length, nullptr, nullptr);
        same = std::string_view(narrow.c_str()) == std::string_view(argv[i]);
    }
    std::vector<std::string> args;
    if (same) {
        for (int i = 1; i < count; ++i) args.push_back(utf8FromWide(wide[i]));
    } else {
        args.assign(argv + 1, argv + argc);
    }
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

bool choosesPlatform(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const std::string_view name = nameOf(arg);
        if (name == "-platform" || name == "--platform") return true;
    }
    return false;
}

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
