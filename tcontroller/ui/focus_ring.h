#pragma once

class QWidget;

namespace tarvo {

// Shows the focus ring of `widget` only while it has the focus from the
// keyboard (Tab, Backtab, a shortcut), not after a click or when the window
// opens: the widget's property "keyboardFocus" is true then, and the style
// sheet rule [keyboardFocus="true"] or the widget's own painting draws the
// ring. A key pressed on a focused widget shows the ring too.
void showFocusRingForKeyboard(QWidget* widget);

}  // namespace tarvo
