// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class QBoxLayout;
class QLayout;
class QWidget;

namespace zolt {

// Controls added beside those of the designed form find their place through
// these: the layout (searched in depth) that holds a widget directly.
QLayout* layoutHolding(QLayout* layout, QWidget* widget);
// The box layout below `widget`'s parent that holds it, or null.
QBoxLayout* boxHolding(QWidget* widget);

// Puts `widget` right after `anchor` in the anchor's layout (right before it
// when `after` is false), or in the same cell of a grid, where widgets that
// take turns with each other sit.
void placeBeside(QWidget* anchor, QWidget* widget, bool after = true);

}  // namespace zolt
