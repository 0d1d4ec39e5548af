// Network side of the main window controller: the first reachability report and
// the version history query.
#include <QPointer>

#include "tcontroller/catalogue/history.h"
#include "tcontroller/platform/log.h"
#include "tcontroller/view_controller.h"

namespace tarvo {

void ViewController::reachabilityChangedWithNote(Reachability* note) {
    if (note == nullptr) {
        return;
    }
    switch (note->connection()) {
        case Reachability::Connection::wifi:
        case Reachability::Connection::cellular:
            logLine("Reachable");
            queryHistory();
            break;
        case Reachability::Connection::unavailable:
            logLine("Network not reachable");
            hasNetwork.store(false);
            onlineVers.set({});
            refreshUI();
            break;
        case Reachability::Connection::none:
            break;
    }
    // The network is sampled once per run.
    note->stopNotifier();
}

void ViewController::queryHistory() {
    // The fetch runs on a worker so a slow server never freezes the window; the
    // reply is parsed, stored and shown on the main thread.
    const std::string address = historyURL + MODEL_NAME;
    ResourceReads* reads = platform_.reads;
    QPointer<ViewController> self(this);
    auto worker = std::make_unique<WorkQueue>("com.tarvo.history", *platform_.clock);
    worker->async([self, reads, address] {
        ReadResult<std::string> reply = reads->readText(address);
        postToMain([self, reply = std::move(reply)] {
            if (!self) {
                return;
            }
            if (!reply.ok()) {
                logLine("get online ver from amz fail: " + reply.error);
                self->hasNetwork.store(false);
                self->refreshUI();
                return;
            }
            logLine(*reply.value);
            std::vector<Histoty> versions = self->onlineVers.get();
            for (Histoty& item : takeHistoryItems(*reply.value, 2)) {
                logLine("ver:" + item.ver + ", FW:" + self->FW_VER);
                versions.push_back(std::move(item));
                if (versions.size() == 2) {
                    break;
                }
            }
            sortNewestFirst(versions);
            self->onlineVers.set(std::move(versions));
            self->hasNetwork.store(true);
            self->refreshUI();
        });
    });
    std::lock_guard<std::mutex> hold(downloadQueuesLock_);
    downloadQueues_.push_back(std::move(worker));
}

}  // namespace tarvo
