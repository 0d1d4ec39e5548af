#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tcontroller/platform/platform.h"
#include "tcontroller/station/bootloader_turns.h"
#include "tcontroller/station/station_row.h"

class QTimer;

namespace tarvo {

class PortRouter;
class UpdateEngine;
namespace station_ports {
class SharedInhibitor;
}

// Several controllers, each on its own USB port, each with an update engine
// of its own: its identification, release, transfer, watchdog and
// verification. One HID monitor and one volume watcher serve them all; the
// station hands each engine only its own port's reports and drives. Erase and
// image run in parallel; the bootloader stage (final step, drive, firmware,
// return) runs for one controller at a time, so at most one "CRP DISABLE"
// drive is expected at any moment, and a drive on another controller's port
// is never written. Main thread.
class Station : public QObject {
    Q_OBJECT

  public:
    explicit Station(const Platform& platform, QObject* parent = nullptr);
    ~Station() override;

    // Starts watching the bus and the drives.
    void start();

    // The controllers seen since the start, in port order.
    std::vector<StationRow> rows() const;
    // The engine of a port, or null.
    UpdateEngine* engine(const std::string& port) const;
    // The published releases as the first engine knows them (empty until a
    // history arrived, or without a network).
    std::vector<std::string> releaseVersions() const;
    // True while any update is past its erase (stopping now would leave a
    // controller without firmware).
    bool anyPastErase() const;
    // True while any update is asked or running.
    bool busy() const;

    // Installs `version` (empty: the newest known) on every attached,
    // supported controller that is idle or whose last update failed or was
    // verified to an older version. Returns how many were asked.
    int updateAll(const std::string& version = {});
    // While on, each supported controller is updated as soon as it is plugged
    // in (or re-plugged), to `version` (empty: the newest).
    void setUpdateOnPlug(bool on, const std::string& version = {});
    bool updateOnPlug() const { return updateOnPlug_; }

  signals:
    // Some row changed: read rows().
    void rowsChanged();
    // A controller's update ended (verified or failed); once per update.
    void finished(const tarvo::StationRow& row);

  private:
    struct Port;

    void watchBus();
    void watchDrives();
    void addPort(const std::string& port);
    // Runs `job` on the main thread, unless the station is gone by then.
    void postToMainOrNow(std::function<void()> job);
    void onEngineChanged(const std::string& port);
    // The replug alert of a port in its update: answered as its button
    // would be, or, once the turn has waited long enough, the update fails.
    void answerReplugAlert(Port& port);
    void finish(Port& port, StationRow::State state);
    void ask(Port& port, const std::string& version);
    void grantBootloaderTurn();
    void turnOverdue();
    StationRow rowOf(const Port& port) const;

    const Platform& platform_;
    std::unique_ptr<PortRouter> router_;
    std::unique_ptr<HidMonitor> monitor_;
    std::thread monitorThread_;
    std::unique_ptr<station_ports::SharedInhibitor> inhibitor_;
    BootloaderTurns turns_;
    QTimer* turnLimit_ = nullptr;  // the holder's time in its turn
    QElapsedTimer turnClock_;      // since the turn was granted
    std::map<std::string, std::unique_ptr<Port>> ports_;
    bool updateOnPlug_ = false;
    std::string plugVersion_;
};

}  // namespace tarvo

Q_DECLARE_METATYPE(tarvo::StationRow)
