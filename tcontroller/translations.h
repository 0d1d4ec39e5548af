#pragma once

#include <QString>
#include <string>

class QCoreApplication;

namespace tarvo {

// Loads the tool's translation for the user's language (QLocale's UI
// languages, so LANGUAGE=de selects German) into `app`, looking for
// tarvo-remote-update_<lang>.qm under `<resourcesDir>/translations`, then in
// the build tree. Returns the file loaded, or an empty string when the
// language is English or has no translation (the source texts are shown).
QString installTranslations(QCoreApplication& app, const std::string& resourcesDir);

}  // namespace tarvo
