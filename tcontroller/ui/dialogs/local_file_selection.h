#pragma once

#include <QStringList>
#include <string>

class QWidget;

namespace tarvo {

// The system file panel for a pair of local firmware files, titled to ask for
// both: several files may be chosen, existing files only, no directories, no
// new folders, "*.bin" files; it runs modally over `parent` (also while
// `parent` is itself modal), in the application's own colours whatever the
// style of the windows below it.
// Returns 1 when the user pressed OK and fills `paths` in the panel's order,
// 0 when the panel was cancelled.
int runSystemOpenPanel(QWidget* parent, QStringList* paths);

}  // namespace tarvo
