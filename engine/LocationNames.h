// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

namespace zolt {

inline constexpr const char* kLocationsKey = "SOFTWARE\\ZOLT6.1\\ListeningLocations";

// One value of the current user's registry as text (UTF-8): a string value as
// stored, a 32-bit number as its decimal digits. Every failure (no registry
// file, no key, no value, another type) gives empty text. Off Windows the
// registry is the compatibility layer's user.reg of $WINEPREFIX (default
// ~/.wine); `registryFile` overrides that file (tests).
std::string GetRegistryString(std::string_view keyPath, std::string_view valueName,
                              const std::filesystem::path& registryFile = {});

// The user.reg that GetRegistryString reads by default.
std::filesystem::path defaultRegistryFile();

// Captions of the sixteen location buttons: the value Location(n) for button
// n + 1, or "Empty" when it reads as empty text. Used as read, untrimmed.
std::array<std::string, 16> LoadLocationNames(const std::filesystem::path& registryFile = {});

}  // namespace zolt
