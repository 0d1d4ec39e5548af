#pragma once

#include <set>
#include <string>

class QPixmap;
class QWidget;

namespace tarvo::demo {

// Saves numbered pictures of the window: 01-idle.png, 02-confirm.png, ... Each
// step has a fixed number, so a picture keeps its name from run to run (a step
// that did not happen leaves a gap). Each step is taken once per run.
class Screenshots {
  public:
    // An empty folder turns screenshots off. Earlier numbered pictures in the
    // folder are removed, so a run never mixes with the one before it.
    explicit Screenshots(std::string dir);
    bool enabled() const { return !dir_.empty(); }
    // Grabs `widget` as `NN-name.png` unless `name` was taken already; NN is
    // the step's place in an update (see stepNumber).
    void take(const std::string& name, QWidget* widget);
    // Grabs `dialog` drawn over the middle of `window`, as the user sees it.
    void takeOver(const std::string& name, QWidget* window, QWidget* dialog);

  private:
    // idle 1, confirm 2, erasing 3, sending-image 4, alert 5,
    // update-complete 6, done 7, failed 8, download-failed 9; anything else 99.
    static int stepNumber(const std::string& name);
    void save(const std::string& name, const QPixmap& picture);

    std::string dir_;
    std::set<std::string> names_;
};

}  // namespace tarvo::demo
