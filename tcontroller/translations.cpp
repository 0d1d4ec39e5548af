#include "tcontroller/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace tarvo {
namespace {

// Qt's own texts (the file dialog, the buttons of message boxes) in the
// language the tool's translation is in, so a dialog never mixes two
// languages. Qt's translations are the system's (Debian:
// qt6-translations-l10n); without them Qt's texts stay English.
void installQtTranslation(QCoreApplication& app, const QString& language) {
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
        return;
    }
    delete translator;
}

}  // namespace

QString installTranslations(QCoreApplication& app, const std::string& resourcesDir) {
    QStringList dirs = {QString::fromStdString(resourcesDir) + "/translations"};
#ifdef TARVO_BUILD_TRANSLATIONS_DIR
    // Run from the build tree: the compiled translations are there.
    dirs << QStringLiteral(TARVO_BUILD_TRANSLATIONS_DIR);
#endif
    for (const QString& dir : dirs) {
        auto* translator = new QTranslator(&app);
        if (translator->load(QLocale(), QStringLiteral("tarvo-remote-update"), QStringLiteral("_"),
                             dir)) {
            installQtTranslation(app, translator->language());
            // Installed last, so its texts win over Qt's.
            QCoreApplication::installTranslator(translator);
            return translator->filePath();
        }
        delete translator;
    }
    return {};
}

}  // namespace tarvo
