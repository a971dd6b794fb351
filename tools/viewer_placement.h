// Where lcdview's window opens: beside or below the test bench's window, inside the screen's
// available area. The bench's place and size come from its own form description
// (forms/omalcd.ui, compiled in), so they are stated once. Not here: following the bench
// when it is moved, or several screens (the screen holding the bench's top-left is used).
#pragma once

#include <QRect>
#include <QSize>

class QWidget;

namespace lcdview {

// Room a window manager's frame (borders and title bar) takes around a client area; not
// known before a window is shown, so both windows are reckoned with this much.
inline constexpr QSize WindowFrameAllowance{8, 32};
// Free pixels between the two windows.
inline constexpr int WindowGap = 8;

// The bench's client area where it opens: its form's position and size.
QRect benchClientGeometry();

// The viewer's outer geometry next to `bench` (outer geometry): in the first free strip of
// `available`, in the order below, right, left, above, that holds `minimum`; there it takes
// `preferred` cut to the strip. When no strip holds `minimum`, `preferred` cut to
// `available` is moved inside it, over the bench if need be.
QRect placeViewer(const QRect& bench, QSize minimum, QSize preferred, const QRect& available);

// Moves and sizes the viewer's window (not yet shown) by placeViewer() on the available area
// of the screen where the bench opens, or of the primary screen.
void placeBesideTheBench(QWidget& viewer);

}  // namespace lcdview
