// Sanitizer settings of the demo program, so that it runs the same however it
// is started (scripts/demo, ctest, by hand). They matter only in sanitizer
// builds; elsewhere nothing reads them.
#include <cstdlib>

#if defined(__SANITIZE_THREAD__)
#define TARVO_DEMO_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TARVO_DEMO_TSAN 1
#endif
#endif

#ifdef TARVO_DEMO_TSAN
namespace {
// Qt's own event dispatcher instead of GLib's, whose internal locking
// ThreadSanitizer cannot see. Only under ThreadSanitizer: on a desktop the
// demo uses the same dispatcher as the tool.
const int kUseQtDispatcher = (setenv("QT_NO_GLIB", "1", 0), 0);
}  // namespace
#endif

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
