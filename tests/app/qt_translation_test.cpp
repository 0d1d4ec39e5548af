// Qt's own texts (the buttons of message boxes, the file dialog) follow the
// tool's language: German beside the German translation, English when the
// tool has no translation for the language asked for.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "tcontroller/translations.h"

namespace tarvo {
namespace {

// Loads the translations for `locale` as the tool's start does; the
// translators and the default locale are taken back at the end.
class TranslationsFor {
  public:
    explicit TranslationsFor(const QLocale& locale) {
        QLocale::setDefault(locale);
        loaded = installTranslations(*QCoreApplication::instance(), TARVO_SOURCE_RESOURCES_DIR);
    }
    ~TranslationsFor() {
        for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
        QLocale::setDefault(before_);
    }
    TranslationsFor(const TranslationsFor&) = delete;
    TranslationsFor& operator=(const TranslationsFor&) = delete;

    QString loaded;

  private:
    QLocale before_;  // the default locale until now
};

QString qtCancel() {
    return QCoreApplication::translate("QPlatformTheme", "Cancel");
}

TEST(Translations, QtTextsFollowTheToolsLanguage) {
    const QString qtDir = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (!QFileInfo::exists(qtDir + "/qtbase_de.qm") ||
        !QFileInfo::exists(qtDir + "/qtbase_fr.qm")) {
        GTEST_SKIP() << "Qt's translations are not installed in " << qtDir.toStdString();
    }
    {
        const TranslationsFor german(QLocale(QLocale::German, QLocale::Germany));
        EXPECT_TRUE(german.loaded.endsWith("tarvo-remote-update_de.qm"))
            << german.loaded.toStdString();
        EXPECT_EQ(qtCancel().toStdString(), "Abbrechen");
    }
    {
        // Qt has French texts, the tool has none: the dialog stays English throughout.
        const TranslationsFor french(QLocale(QLocale::French, QLocale::France));
        EXPECT_TRUE(french.loaded.isEmpty()) << french.loaded.toStdString();
        EXPECT_EQ(qtCancel().toStdString(), "Cancel");
    }
}

}  // namespace
}  // namespace tarvo
