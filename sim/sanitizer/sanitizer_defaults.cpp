// Sanitizer settings built into every test program and the demo, so that they
// hold however the program is started (ctest, by hand, as a child process).
// They matter only in sanitizer builds; elsewhere nothing reads them.
extern "C" {
// Reports whose frames lie wholly inside Qt's own (uninstrumented) libraries,
// inside the D-Bus library under QtDBus and inside GLib under Qt's GLib event
// dispatcher (its wakeup descriptors), and inside the HTTP library of the
// simulator's loopback firmware server (its worker threads, when several
// controllers download at once), whose own locking ThreadSanitizer cannot see. Never list anything
// that would hide a report with one of our frames.
const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\n"
           "called_from_lib:libQt6Gui.so.6\n"
           "called_from_lib:libQt6Widgets.so.6\n"
           "called_from_lib:libQt6DBus.so.6\n"
           "called_from_lib:libdbus-1.so.3\n"
           "called_from_lib:libglib-2.0.so.0\n"
           "called_from_lib:libcpp-httplib.so.0.11\n";
}
// QProcess starts its children through vfork, which ThreadSanitizer takes for
// a fork of this multi-threaded process and then forbids the process to start
// threads; the children only exec, so that rule is off.
const char* __tsan_default_options() {
    return "halt_on_error=1 second_deadlock_stack=1 die_after_fork=0";
}
const char* __asan_default_options() {
    return "detect_leaks=1";
}
const char* __ubsan_default_options() {
    return "print_stacktrace=1 halt_on_error=1";
}
}
