// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace zolt {

// The old files hold single-byte Windows-1252 text; the database and the
// screen want UTF-8. The table is our own so that nothing depends on the
// machine's locale. Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D (unassigned) map to
// the C1 controls of the same number, so every byte round-trips.
std::string cp1252ToUtf8(std::string_view bytes);
// The same for texts converted by the thousand: plain ASCII is its own UTF-8
// and comes back as it is; anything else is converted into `buffer`, which
// the returned text then points into (valid until `buffer` changes).
std::string_view cp1252ToUtf8(std::string_view bytes, std::string& buffer);
// Characters with no Windows-1252 byte become '?'; invalid UTF-8 too.
std::string utf8ToCp1252(std::string_view utf8);

}  // namespace zolt
