// The demo's environment under ThreadSanitizer (the sanitizer settings
// themselves are in sim/sanitizer/sanitizer_defaults.cpp).
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
