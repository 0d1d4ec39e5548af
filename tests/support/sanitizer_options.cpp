// Built into every test program: sanitizer settings that hold however the test
// is started (ctest, by hand, as a child process), and Qt's own event
// dispatcher instead of GLib's, whose internal locking ThreadSanitizer cannot
// see.
#include <cstdlib>

namespace {
const int kUseQtDispatcher =
    (setenv("QT_NO_GLIB", "1", 0), setenv("QT_QPA_PLATFORM", "offscreen", 0), 0);
}  // namespace

extern "C" {
// Reports whose frames lie wholly inside Qt's own (uninstrumented) libraries.
// Never list anything that would hide a report with one of our frames.
const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n";
}
const char* __tsan_default_options() {
    return "halt_on_error=1 second_deadlock_stack=1";
}
const char* __asan_default_options() {
    return "detect_leaks=1";
}
const char* __ubsan_default_options() {
    return "print_stacktrace=1 halt_on_error=1";
}
}
