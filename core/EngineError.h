// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zolt {

// Every engine operation that fails throws this. The text is a whole sentence
// meant for the user: which file or database, which operation, and the reason
// the system gave. The window shows it in one message box and stops the action.
class EngineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Runs `action`; a failure out of it is thrown again with `kept`, the
// sentence that says what was kept ("Nothing was logged."), after its own,
// unless it already says so (then as it was thrown).
template <typename Action>
void sayingWhatWasKept(std::string_view kept, Action&& action) {
    try {
        action();
    } catch (const EngineError& error) {
        const auto lower = [](std::string_view text) {
            std::string out(text);
            std::transform(out.begin(), out.end(), out.begin(),
                           [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
            return out;
        };
        std::string_view said = kept;
        if (said.ends_with('.')) said.remove_suffix(1);
        const std::string text = error.what();
        if (lower(text).find(lower(said)) != std::string::npos) throw;
        throw EngineError(text + " " + std::string(kept));
    }
}

}  // namespace zolt
