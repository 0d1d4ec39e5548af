#pragma once

class QWidget;

namespace tarvo {

// Marks `widget` as able to carry an alert: while announced, assistive
// technology sees it with the alert role and its text as its name. Call once,
// right after the widget is made. Works for labels and dialogs.
void makeAnnounceable(QWidget* widget);

// Tells screen readers at once that `widget` (made announceable) now holds
// news: it takes the alert role, an alert event is raised with its text, and
// a widget inside a window is shown anew, since the AT-SPI bridge passes the
// showing of an alert on to screen readers but not the alert event itself (a
// window: announce it, then show it). `announced` false gives the widget its
// plain role back.
void announce(QWidget* widget, bool announced = true);

}  // namespace tarvo
