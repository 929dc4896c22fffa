// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace zolt {

// As in core/TextFields.h, which this header, included everywhere, leaves
// out: files that keep a helper of the same name stay unambiguous.
std::string lowerAscii(std::string_view text);

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
        std::string_view said = kept;
        if (said.ends_with('.')) said.remove_suffix(1);
        const std::string text = error.what();
        if (lowerAscii(text).find(lowerAscii(said)) != std::string::npos) throw;
        throw EngineError(text + " " + std::string(kept));
    }
}

}  // namespace zolt
