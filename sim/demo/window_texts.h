#pragma once

#include <QString>
#include <string>

namespace tarvo::demo {

// The demo reads the window as a user does, in the language it shows: these
// recognise its texts through the same translations.

// True when `message` is the window's question before an update (online or
// with the built-in release).
bool isConfirmation(const QString& message);

// The version a confirmation message offers to install, or `builtIn` when the
// message is not one. (The window keeps its choice only until the next redraw,
// so the message is what tells.)
std::string targetOf(const QString& message, const std::string& builtIn);

}  // namespace tarvo::demo
