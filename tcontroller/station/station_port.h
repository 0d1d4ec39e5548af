#pragma once

// A controller's port as the station keeps it; shared by the station's own
// source files only.
#include <QElapsedTimer>
#include <memory>
#include <string>
#include <thread>

#include "tcontroller/platform/platform.h"
#include "tcontroller/station/port_services.h"
#include "tcontroller/station/station.h"
#include "tcontroller/station/station_row.h"
#include "tcontroller/update/update_engine.h"
#include "tcontroller/update/update_progress.h"

namespace tarvo {

// A controller's port: its engine, what the station asked of it and how its
// update went.
struct Station::Port {
    std::string name;
    Platform platform;
    std::unique_ptr<station_ports::PortVolumes> volumes;
    std::unique_ptr<station_ports::SharedInhibitor::Share> inhibitor;
    std::unique_ptr<UpdateEngine> engine;
    std::thread preparing;  // a named release's download

    StationRow row;
    bool confirmed = false;  // the prepared release was started
    int percent = -1;
    ProgressLine line{};
    QElapsedTimer clock;
    bool updatedThisPlug = false;  // for update-on-plug: done until it is re-plugged
    bool alertAnswered = false;    // the replug alert that is up was answered
    int alertsThisUpdate = 0;      // replug alerts since the update was asked
};

}  // namespace tarvo
