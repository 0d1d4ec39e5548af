#include "sim/demo/screenshots.h"

#include <QColor>
#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>
#include <QWidget>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "sim/demo/note.h"

namespace tarvo::demo {

Screenshots::Screenshots(std::string dir) : dir_(std::move(dir)) {
    if (dir_.empty()) {
        return;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(dir_, ec);
    if (ec) {
        note("cannot create " + dir_ + ": " + ec.message() + "; no screenshots");
        dir_.clear();
        return;
    }
    // Pictures of an earlier run ("NN-name.png") go; others stay.
    const auto numbered = [](const std::string& name) {
        return name.size() > 7 && std::isdigit(static_cast<unsigned char>(name[0])) &&
               std::isdigit(static_cast<unsigned char>(name[1])) && name[2] == '-' &&
               name.ends_with(".png");
    };
    for (const auto& entry : fs::directory_iterator(dir_, ec)) {
        if (entry.is_regular_file() && numbered(entry.path().filename().string())) {
            fs::remove(entry.path(), ec);
        }
    }
}

void Screenshots::take(const std::string& name, QWidget* widget) {
    if (!enabled() || widget == nullptr || !names_.insert(name).second) {
        return;
    }
    // A window that just grew is its new size once the platform's report of
    // it is handled.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    save(name, widget->grab());
}

void Screenshots::takeOver(const std::string& name, QWidget* window, QWidget* dialog) {
    if (!enabled() || window == nullptr || dialog == nullptr || !names_.insert(name).second) {
        return;
    }
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QPixmap picture = window->grab();
    const QPixmap front = dialog->grab();
    QPainter painter(&picture);
    painter.fillRect(picture.rect(), QColor(0, 0, 0, 90));  // the window behind a modal dialog
    const QPoint at((picture.width() - front.width()) / 2, (picture.height() - front.height()) / 2);
    painter.drawPixmap(at, front);
    painter.setPen(QColor(0, 0, 0, 120));
    painter.drawRect(QRect(at, front.size()).adjusted(-1, -1, 0, 0));
    painter.end();
    save(name, picture);
}

int Screenshots::stepNumber(const std::string& name) {
    static const char* const kSteps[] = {"idle",          "confirm",      "erasing",
                                         "sending-image", "alert",        "update-complete",
                                         "done",          "failed",       "download-failed",
                                         "files-refused", "station-idle", "station-updating",
                                         "station-done"};
    for (int i = 0; i < static_cast<int>(std::size(kSteps)); ++i) {
        if (name == kSteps[i]) {
            return i + 1;
        }
    }
    return 99;
}

void Screenshots::save(const std::string& name, const QPixmap& picture) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%02d-", stepNumber(name));
    const std::string path = dir_ + "/" + prefix + name + ".png";
    if (picture.save(QString::fromStdString(path), "PNG")) {
        note("screenshot " + path);
    } else {
        note("could not save " + path);
    }
}

}  // namespace tarvo::demo
