// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace zolt {

// Every engine operation that fails throws this. The text is a whole sentence
// meant for the user: which file or database, which operation, and the reason
// the system gave. The window shows it in one message box and stops the action.
class EngineError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace zolt
