#include "sim/demo/window_texts.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>
#include <optional>

namespace tarvo::demo {
namespace {

// The window's texts in the language it shows (the demo may run translated).
QString windowText(const char* source) {
    return QCoreApplication::translate("WindowState", source);
}
const char* const kConfirm = "Do you want to update \nFrom: Firmware V%1\nTo: Firmware V%2";
const char* const kDowngrade =
    "This installs an older firmware.\nFrom: Firmware V%1\nTo: Firmware V%2 (older)";
const char* const kOfflineConfirm =
    "No internet connection, newest version as of: Version %1 [%2] will be installed";

// The values at the %1 and %2 places of `pattern` when `text` is that pattern
// filled in; nothing when it is not.
std::optional<QStringList> filledIn(const QString& pattern, const QString& text) {
    static const QRegularExpression place(QStringLiteral("%[12]"));
    QString expression = QStringLiteral("^");
    QList<int> order;
    qsizetype from = 0;
    for (auto it = place.globalMatch(pattern); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        expression += QRegularExpression::escape(pattern.mid(from, m.capturedStart() - from));
        expression += QStringLiteral("(.*?)");
        order.append(m.captured().at(1).digitValue());
        from = m.capturedEnd();
    }
    expression += QRegularExpression::escape(pattern.mid(from)) + QStringLiteral("$");
    const QRegularExpressionMatch m =
        QRegularExpression(expression, QRegularExpression::DotMatchesEverythingOption).match(text);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    QStringList values(2);
    for (int i = 0; i < order.size(); ++i) {
        values[order[i] - 1] = m.captured(i + 1);
    }
    return values;
}

}  // namespace

bool isConfirmation(const QString& message) {
    return filledIn(windowText(kConfirm), message) || filledIn(windowText(kDowngrade), message) ||
           filledIn(windowText(kOfflineConfirm), message);
}

std::string targetOf(const QString& message, const std::string& builtIn) {
    for (const char* pattern : {kConfirm, kDowngrade}) {
        if (const auto online = filledIn(windowText(pattern), message)) {
            return online->at(1).toStdString();
        }
    }
    if (const auto offline = filledIn(windowText(kOfflineConfirm), message)) {
        return offline->at(0).toStdString();
    }
    return builtIn;
}

}  // namespace tarvo::demo
