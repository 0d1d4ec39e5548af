#pragma once

class QWidget;

namespace tarvo {

// Asks, over `parent`, whether to close while an update is past its erase
// (an erased controller without its image and firmware does not start).
// "Keep updating" is the default and Escape's answer. True only for "Close
// anyway". `parentLook`: the question takes the parent's palette (a window
// with colours of its own).
bool confirmCloseDuringUpdate(QWidget* parent, bool parentLook = false);

}  // namespace tarvo
