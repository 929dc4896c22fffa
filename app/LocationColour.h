// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "work/LocationStates.h"

namespace zolt {

// How a location button shows where its location stands, in the colours the
// listener knows from the old program: light red for receptions not matched
// yet, yellow for receptions left after matching, the button's own face when
// nothing waits.
enum class LocationColour { ButtonFace, Yellow, LightRed };

constexpr LocationColour colourOf(LocationState state) {
    switch (state) {
        case LocationState::NothingPending:
            break;
        case LocationState::WorkLeft:
            return LocationColour::Yellow;
        case LocationState::NotMatched:
            return LocationColour::LightRed;
    }
    return LocationColour::ButtonFace;
}

}  // namespace zolt
