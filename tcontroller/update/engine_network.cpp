// The engine's network side: the first reachability report and
// the version history query.
#include <QPointer>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/history.h"
#include "tcontroller/platform/resource_reads.h"
#include "tcontroller/update/update_engine.h"

namespace tarvo {

void UpdateEngine::reachabilityChangedWithNote(Reachability* note) {
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
            publish();
            historySettled();
            break;
        case Reachability::Connection::none:
            historySettled();
            break;
    }
    // The network is sampled once per run.
    note->stopNotifier();
}

void UpdateEngine::queryHistory() {
    // The fetch and the parse run on the download worker so neither a slow
    // server nor a large reply holds up the main thread; the fields are written and
    // published on the main thread. The reply is logged escaped: it
    // is the server's text, and must not forge or split log lines.
    const std::string address = historyURL + MODEL_NAME;
    ResourceReads* reads = platform_.reads;
    QPointer<UpdateEngine> self(this);
    const std::string builtIn = FW_VER;
    awaitingHistory_.store(true);
    downloads_->async([self, reads, address, builtIn] {
        Result<std::string> reply = reads->readText(address, kHistoryMaxBytes);
        if (!reply.ok()) {
            logLine("get online ver from amz fail: " + escapeForLog(reply.error));
            postToMain([self] {
                if (self) {
                    self->hasNetwork.store(false);
                    self->publish();
                    self->historySettled();
                }
            });
            return;
        }
        logLine(escapeForLog(*reply.value));
        std::vector<Histoty> versions = takeHistoryItems(*reply.value, 2);
        for (const Histoty& item : versions) {
            logLine("ver:" + escapeForLog(item.ver) + ", FW:" + builtIn);
        }
        sortNewestFirst(versions);
        postToMain([self, versions = std::move(versions)]() mutable {
            if (!self) {
                return;
            }
            // The query runs once per run, so the list starts empty.
            self->onlineVers.set(std::move(versions));
            self->hasNetwork.store(true);
            self->publish();
            self->historySettled();
        });
    });
}

void UpdateEngine::historySettled() {
    awaitingHistory_.store(false);
    if (pressedWhileChecking_.exchange(false)) {
        press();
    }
}

}  // namespace tarvo
