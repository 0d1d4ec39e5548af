#include "tcontroller/translations.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

namespace tarvo {

QString installTranslations(QCoreApplication& app, const std::string& resourcesDir) {
    const QStringList dirs = {QString::fromStdString(resourcesDir) + "/translations",
                              QStringLiteral(TARVO_BUILD_TRANSLATIONS_DIR)};
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
