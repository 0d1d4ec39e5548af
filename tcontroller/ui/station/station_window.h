#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "tcontroller/station/station_row.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace tarvo {

class Station;
class StationTableModel;

// The station's own window: every controller in a table, the release to
// install, "Update all" and updating each controller as it is plugged in.
// A view of the station like the main window is of its engine: the table
// and the counts are read from station.rows() on each rowsChanged(). It
// does not own the station, which must outlive it. Main thread.
class StationWindow : public QWidget {
    Q_OBJECT

  public:
    explicit StationWindow(Station& station, QWidget* parent = nullptr);
    ~StationWindow() override;

  signals:
    // The window closed (after the question while an update is past its erase).
    void closed();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // Reads the station's rows: the table, the counts, the releases offered
    // and whether Update all has anything to do.
    void refresh();
    void fillReleases(const std::vector<std::string>& versions);
    // The release chosen: empty for the newest.
    std::string chosenVersion() const;
    // The version the chosen entry stands for.
    std::string targetVersion() const;
    void updateAllClicked();
    void updateOnPlugToggled(bool on);
    // A controller's update ended: said on the status line and to screen readers.
    void rowFinished(const StationRow& row);

    Station& station_;
    StationTableModel* model_ = nullptr;
    QTableView* table_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* status_ = nullptr;
    QComboBox* release_ = nullptr;
    QPushButton* updateAll_ = nullptr;
    QCheckBox* onPlug_ = nullptr;
    QPushButton* close_ = nullptr;
    std::vector<std::string> releases_;  // as the release box lists them
};

}  // namespace tarvo
