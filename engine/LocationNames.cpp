// SPDX-License-Identifier: GPL-2.0-or-later
#include "engine/LocationNames.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "core/TextFields.h"
#include "core/Utf8.h"

namespace fs = std::filesystem;

namespace zolt {
namespace {

// A registry file larger than this is not one the old version could have
// left behind; reading it is refused rather than risked.
constexpr std::uintmax_t kMaxRegistryFileSize = 64u * 1024u * 1024u;

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

unsigned hexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    return static_cast<unsigned>(lowerAscii(c) - 'a' + 10);
}

// Collects text as the registry holds it (UTF-16 code units from escapes,
// whole characters from the file's own UTF-8) and gives it back as UTF-8.
// Unpaired surrogates become U+FFFD so the result is always valid UTF-8.
class TextBuilder {
  public:
    void unit(std::uint32_t u) {
        if (u >= 0xD800 && u <= 0xDBFF) {
            flush();
            high_ = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            if (high_ != 0) {
                appendUtf8(out_, 0x10000 + ((high_ - 0xD800) << 10) + (u - 0xDC00));
                high_ = 0;
            } else {
                appendUtf8(out_, 0xFFFD);
            }
        } else {
            character(u);
        }
    }
    void character(std::uint32_t cp) {
        flush();
        appendUtf8(out_, cp);
    }
    std::string finish() {
        flush();
        // A caption is text up to the first NUL, as a C string would read it.
        return out_.substr(0, out_.find('\0'));
    }

  private:
    void flush() {
        if (high_ != 0) appendUtf8(out_, 0xFFFD);
        high_ = 0;
    }
    std::string out_;
    std::uint32_t high_ = 0;
};

// Reads one UTF-8 character of the file at `pos`; an invalid byte reads as
// U+FFFD and is skipped alone.
std::uint32_t readUtf8(std::string_view text, std::size_t& pos) {
    return nextUtf8(text, pos).value_or(0xFFFD);
}

// Reads an escaped text of the registry file starting at `pos` up to the
// unescaped `close` character, and leaves `pos` after it. The escapes are
// those the compatibility layer writes: \\ \" \a \b \e \f \n \r \t \v, \x
// with up to four hex digits (a UTF-16 code unit) and up to three octal
// digits. An unterminated text gives nothing.
std::optional<std::string> readEscaped(std::string_view line, std::size_t& pos, char close) {
    TextBuilder text;
    while (pos < line.size()) {
        const char c = line[pos];
        if (c == close) {
            ++pos;
            return text.finish();
        }
        if (c != '\\') {
            text.character(readUtf8(line, pos));
            continue;
        }
        if (++pos >= line.size()) return std::nullopt;
        const char e = line[pos++];
        switch (e) {
            case 'a':
                text.unit(0x07);
                break;
            case 'b':
                text.unit(0x08);
                break;
            case 'e':
                text.unit(0x1B);
                break;
            case 'f':
                text.unit(0x0C);
                break;
            case 'n':
                text.unit(0x0A);
                break;
            case 'r':
                text.unit(0x0D);
                break;
            case 't':
                text.unit(0x09);
                break;
            case 'v':
                text.unit(0x0B);
                break;
            case 'x': {
                std::uint32_t u = 0;
                int digits = 0;
                while (digits < 4 && pos < line.size() && isHexDigit(line[pos])) {
                    u = (u << 4) | hexValue(line[pos++]);
                    ++digits;
                }
                text.unit(digits == 0 ? static_cast<std::uint32_t>('x') : u);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    std::uint32_t u = static_cast<std::uint32_t>(e - '0');
                    for (int digits = 1;
                         digits < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7';
                         ++digits) {
                        u = (u << 3) | static_cast<std::uint32_t>(line[pos++] - '0');
                    }
                    text.unit(u);
                } else {
                    --pos;
                    text.character(readUtf8(line, pos));
                }
        }
    }
    return std::nullopt;
}

// A 32-bit number value as the old program showed it: a signed 32-bit
// integer, so dword:ffffffff reads -1.
std::string dwordText(std::uint32_t value) {
    return std::to_string(static_cast<std::int32_t>(value));
}

// "dword:0000002a": one to eight hex digits and nothing after them.
std::string parseDword(std::string_view data) {
    data = trimmedSpaceTab(data);
    if (data.empty() || data.size() > 8) return {};
    std::uint32_t value = 0;
    for (char c : data) {
        if (!isHexDigit(c)) return {};
        value = (value << 4) | hexValue(c);
    }
    return dwordText(value);
}

// "01,02,ff" (continuation backslashes already removed) as bytes.
std::optional<std::string> parseHexBytes(std::string_view data) {
    std::string bytes;
    std::size_t pos = 0;
    while (true) {
        while (pos < data.size() && (data[pos] == ' ' || data[pos] == '\t')) ++pos;
        if (pos >= data.size()) break;
        if (pos + 1 >= data.size() || !isHexDigit(data[pos]) || !isHexDigit(data[pos + 1])) {
            return std::nullopt;
        }
        bytes += static_cast<char>((hexValue(data[pos]) << 4) | hexValue(data[pos + 1]));
        pos += 2;
        while (pos < data.size() && (data[pos] == ' ' || data[pos] == '\t')) ++pos;
        if (pos >= data.size()) break;
        if (data[pos] != ',') return std::nullopt;
        ++pos;
    }
    return bytes;
}

// hex(1) is a string value the file keeps as raw UTF-16LE bytes (it does so
// when the stored data is not a clean string); hex(4) a number as four
// little-endian bytes. Those are still the two types a caption may come
// from; every other raw type reads as empty text.
std::string parseHexValue(std::uint32_t type, std::string_view data) {
    const auto bytes = parseHexBytes(data);
    if (!bytes) return {};
    if (type == 4) {
        if (bytes->size() != 4) return {};
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) {
            value =
                (value << 8) | static_cast<unsigned char>((*bytes)[static_cast<std::size_t>(i)]);
        }
        return dwordText(value);
    }
    if (type != 1) return {};
    TextBuilder text;
    for (std::size_t i = 0; i + 1 < bytes->size(); i += 2) {
        const std::uint32_t u =
            static_cast<unsigned char>((*bytes)[i]) |
            (static_cast<std::uint32_t>(static_cast<unsigned char>((*bytes)[i + 1])) << 8);
        if (u == 0) break;
        text.unit(u);
    }
    return text.finish();
}

// The type of raw data after "hex" ("hex:" is binary, "hex(N):" type N), or
// nothing when `data` is no raw value. Unsigned, since eight hex digits
// (hex(ffffffff)) do not fit a signed int.
std::optional<std::uint32_t> hexType(std::string_view data, std::size_t& dataStart) {
    if (!startsWithNoCase(data, "hex")) return std::nullopt;
    std::size_t pos = 3;
    std::uint32_t type = 3;
    if (pos < data.size() && data[pos] == '(') {
        ++pos;
        type = 0;
        int digits = 0;
        while (pos < data.size() && isHexDigit(data[pos]) && digits < 8) {
            type = (type << 4) | hexValue(data[pos++]);
            ++digits;
        }
        if (digits == 0 || pos >= data.size() || data[pos] != ')') return std::nullopt;
        ++pos;
    }
    if (pos >= data.size() || data[pos] != ':') return std::nullopt;
    dataStart = pos + 1;
    return type;
}

// Splits the file into lines without their line ends.
std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The values of one key of a registry file, by value name in lower case.
// Every problem of the file (missing, unreadable, not text, cut short) gives
// fewer values, never an error.
std::map<std::string, std::string> readKeyValues(const fs::path& file, std::string_view keyPath) {
    std::map<std::string, std::string> values;
    std::error_code ec;
    // Only a regular file is read: a pipe or device could block for ever.
    if (file.empty() || !fs::is_regular_file(file, ec)) return values;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec || size > kMaxRegistryFileSize) return values;
    std::ifstream in(file, std::ios::binary);
    if (!in) return values;
    std::string text(static_cast<std::size_t>(size), '\0');
    in.read(text.data(), static_cast<std::streamsize>(size));
    text.resize(static_cast<std::size_t>(in.gcount()));

    const std::string wantedKey = lowerAscii(keyPath);
    const std::vector<std::string_view> lines = splitLines(text);
    bool inKey = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string_view line = trimmedSpaceTab(lines[i]);
        if (line.empty()) continue;
        if (line.front() == '[') {
            // "[Software\\ZOLT6.1\\ListeningLocations] 1234567890": the name
            // is escaped like a text and a time stamp may follow.
            std::size_t pos = 1;
            const auto key = readEscaped(line, pos, ']');
            inKey = key && lowerAscii(*key) == wantedKey;
            continue;
        }
        if (!inKey || (line.front() != '"' && line.front() != '@')) continue;

        std::string name;
        std::size_t pos = 1;
        if (line.front() == '"') {
            const auto quoted = readEscaped(line, pos, '"');
            if (!quoted) continue;
            name = *quoted;
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        if (pos >= line.size() || line[pos] != '=') continue;
        ++pos;
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
        const std::string_view data = line.substr(pos);

        std::string value;
        std::size_t hexStart = 0;
        if (!data.empty() && data.front() == '"') {
            std::size_t textPos = 1;
            const auto quoted = readEscaped(data, textPos, '"');
            if (quoted && trimmedSpaceTab(data.substr(textPos)).empty()) value = *quoted;
        } else if (startsWithNoCase(data, "dword:")) {
            value = parseDword(data.substr(6));
        } else if (const auto type = hexType(data, hexStart)) {
            // Raw data may run over several lines, each but the last ending
            // in a backslash.
            std::string joined(data.substr(hexStart));
            while (!joined.empty() && joined.back() == '\\' && i + 1 < lines.size()) {
                joined.pop_back();
                joined += trimmedSpaceTab(lines[++i]);
            }
            if (!joined.empty() && joined.back() == '\\') joined.pop_back();
            value = parseHexValue(*type, joined);
        }
        // Any other form (str(2):, str(7):, …) is another type: empty text.
        values[lowerAscii(name)] = value;
    }
    return values;
}

std::string readFromFile(std::string_view keyPath, std::string_view valueName,
                         const fs::path& file) {
    const auto values = readKeyValues(file, keyPath);
    const auto it = values.find(lowerAscii(valueName));
    return it == values.end() ? std::string() : it->second;
}

#ifdef _WIN32
std::wstring wideFromUtf8(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(std::max(length, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        length);
    return wide;
}

// Every value of a key of the current user's registry, by value name in
// lower case, read with the wide-character functions so that a name in any
// script arrives whole. A string value (REG_SZ) is its text up to the first
// NUL, a number (REG_DWORD) its signed decimal digits; any other type reads
// as empty text, as in the file. A missing key gives no values.
std::map<std::string, std::string> readKeyValuesFromRegistry(std::string_view keyPath) {
    std::map<std::string, std::string> values;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, wideFromUtf8(keyPath).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return values;
    }
    DWORD count = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &longestName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return values;
    }
    std::vector<wchar_t> name(longestName + 1);
    std::vector<BYTE> data(longestData + sizeof(wchar_t));
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                          data.data(), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        if (result != ERROR_SUCCESS) continue;  // changed meanwhile: passed over
        TextBuilder nameText;
        for (DWORD i = 0; i < nameLength; ++i) nameText.unit(name[i]);
        std::string value;
        if (type == REG_SZ) {
            // Up to the first NUL; a string stored without one keeps its
            // last character.
            TextBuilder text;
            for (DWORD i = 0; i + 1 < dataSize; i += 2) {
                const std::uint32_t unit = static_cast<std::uint32_t>(data[i]) |
                                           (static_cast<std::uint32_t>(data[i + 1]) << 8);
                if (unit == 0) break;
                text.unit(unit);
            }
            value = text.finish();
        } else if (type == REG_DWORD && dataSize == sizeof(DWORD)) {
            DWORD number = 0;
            std::memcpy(&number, data.data(), sizeof number);
            value = dwordText(static_cast<std::uint32_t>(number));
        }
        values[lowerAscii(nameText.finish())] = value;
    }
    RegCloseKey(key);
    return values;
}

std::string readFromRegistry(std::string_view keyPath, std::string_view valueName) {
    const auto values = readKeyValuesFromRegistry(keyPath);
    const auto it = values.find(lowerAscii(valueName));
    return it == values.end() ? std::string() : it->second;
}
#endif

}  // namespace

fs::path defaultRegistryFile() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix != nullptr && *prefix != '\0') return fs::path(prefix) / "user.reg";
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return fs::path(home) / ".wine" / "user.reg";
    return {};
}

std::string GetRegistryString(std::string_view keyPath, std::string_view valueName,
                              const fs::path& registryFile) {
#ifdef _WIN32
    if (registryFile.empty()) return readFromRegistry(keyPath, valueName);
    return readFromFile(keyPath, valueName, registryFile);
#else
    return readFromFile(keyPath, valueName,
                        registryFile.empty() ? defaultRegistryFile() : registryFile);
#endif
}

std::array<std::string, 16> LoadLocationNames(const fs::path& registryFile) {
    std::array<std::string, 16> captions;
#ifdef _WIN32
    const bool useFile = !registryFile.empty();
#else
    const bool useFile = true;
#endif
    // The file (or the key) is read once for all sixteen names.
    std::map<std::string, std::string> values;
    if (useFile) {
        values = readKeyValues(registryFile.empty() ? defaultRegistryFile() : registryFile,
                               kLocationsKey);
    }
#ifdef _WIN32
    else {
        values = readKeyValuesFromRegistry(kLocationsKey);
    }
#endif
    for (std::size_t n = 0; n < captions.size(); ++n) {
        const std::string name = "Location(" + std::to_string(n) + ")";
        std::string text;
        const auto it = values.find(lowerAscii(name));
        if (it != values.end()) text = it->second;
        captions[n] = text.empty() ? "Empty" : text;
    }
    return captions;
}

}  // namespace zolt
