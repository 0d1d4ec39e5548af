#pragma once

#include <QString>
#include <string>

class QCoreApplication;

namespace tarvo {

// Loads the tool's translation for the user's language (QLocale's UI
// languages, so LANGUAGE=de selects German) into `app`, looking for
// tarvo-remote-update_<lang>.qm under `<resourcesDir>/translations`, then in
// the build tree, and Qt's own translation (qtbase_<lang>.qm from Qt's
// translations folder) for the same language. Returns the tool's file loaded,
// or an empty string when the language is English or has no translation (the
// source texts are shown, Qt's too).
QString installTranslations(QCoreApplication& app, const std::string& resourcesDir);

}  // namespace tarvo
