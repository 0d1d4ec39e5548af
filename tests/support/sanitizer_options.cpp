// Built into every test program: Qt's own event dispatcher instead of GLib's,
// whose internal locking ThreadSanitizer cannot see, and the offscreen platform
// (the sanitizer settings are in sim/sanitizer/sanitizer_defaults.cpp).
#include <cstdlib>

namespace {
const int kUseQtDispatcher =
    (setenv("QT_NO_GLIB", "1", 0), setenv("QT_QPA_PLATFORM", "offscreen", 0), 0);
}  // namespace
