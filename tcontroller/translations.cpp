#include "tcontroller/translations.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace tarvo {

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
            QCoreApplication::installTranslator(translator);
            return translator->filePath();
        }
        delete translator;
    }
    return {};
}

}  // namespace tarvo
