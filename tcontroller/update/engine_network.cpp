// The engine's network side: the first reachability report, the version
// history query and the download of a release's two files.
#include <QPointer>

#include "tcontroller/base/log.h"
#include "tcontroller/catalogue/firmware_names.h"
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

void UpdateEngine::runDownload(const Histoty& release, unsigned id) {
    // The bar covers both files: the firmware its first half, the image its second.
    const auto watch = [this, id](int half) {
        return [this, id, half](std::uint64_t received, std::uint64_t total) {
            if (downloadCancelled(id)) {
                return false;
            }
            const ProgressLine file = downloadProgress(received, total);
            const int percent = file.percent < 0 ? -1 : (half * 100 + file.percent) / 2;
            if (percent >= 0) {
                setProgressLater(percent);
            }
            setProgressLineLater({UpdateStage::download, percent, -1});
            return true;
        };
    };
    const std::string imageUrl = imageAddress(platform_.serverBase, release.ver);
    const std::string firmwareUrl = firmwareAddress(platform_.serverBase, release.ver);
    Download firmware = platform_.reads->download(firmwareUrl, watch(0));
    Download image;
    if (firmware.bytes.ok()) {
        image = platform_.reads->download(imageUrl, watch(1));
    }
    // The words for a failure are found here, off the main thread: telling
    // "no network" from "server unreachable" reads the routing table.
    const Download& failed = firmware.bytes.ok() ? image : firmware;
    std::string failure;
    if (!failed.bytes.ok() && failed.failure != ReadFailure::cancelled) {
        logLine("could not download " + escapeForLog(firmware.bytes.ok() ? imageUrl : firmwareUrl) +
                ": " + escapeForLog(failed.bytes.error));
        failure = downloadFailureText(release.ver, failed);
    }
    QPointer<UpdateEngine> self(this);
    postToMain([self, release, id, firmware = std::move(firmware), image = std::move(image),
                failure]() mutable {
        if (self) {
            self->finishDownload(release, id, std::move(firmware), std::move(image), failure);
        }
    });
}

void UpdateEngine::finishDownload(const Histoty& release, unsigned id, Download firmware,
                                  Download image, const std::string& failure) {
    // A cancelled download has put the state back already; a later one may
    // be running by now.
    if (downloadCancelled(id) || id != downloadSerial_.load()) {
        return;
    }
    downloading_.store(false);
    setProgressLineLater({});
    const bool ok = firmware.bytes.ok() && image.bytes.ok();
    // A controller attached while the files were on their way has reset the
    // mode: then they are not taken.
    if (ok && updateMode.load() == UpMode::online) {
        downloadNote_.set({});
        takeRelease(UpMode::online, release, std::move(image.bytes.value),
                    std::move(firmware.bytes.value));
    } else if (!ok) {
        logLine("download file failed.");
        downloadNote_.set(failure);
        updateMode.store(UpMode::none);
        selectedFW.set(std::nullopt);
    } else {
        downloadNote_.set({});
    }
    publish();
}

void UpdateEngine::cancelDownload() {
    const unsigned id = downloadSerial_.load();
    if (!downloading_.load() || downloadCancelled(id)) {
        return;
    }
    // The read stops at its next progress call (at least once a second, also
    // on a stalled server); the state goes back to where it was at once.
    cancelledDownload_.store(id);
    logLine("download cancelled");
    downloading_.store(false);
    downloadNote_.set({});
    updateMode.store(UpMode::none);
    selectedFW.set(std::nullopt);
    setProgressLater(0);
    setProgressLineLater({});
    publish();
}

Result<void> UpdateEngine::updateTo(const Histoty& release) {
    ResourceReads* reads = platform_.reads;
    const std::string imageUrl = imageAddress(platform_.serverBase, release.ver);
    const std::string firmwareUrl = firmwareAddress(platform_.serverBase, release.ver);
    // A version that does not make an address (a space, say) is a failed download.
    if (reads == nullptr || !reads->isValidAddress(firmwareUrl) ||
        !reads->isValidAddress(imageUrl)) {
        return Result<void>::failure("no valid address for release " + release.ver);
    }
    Result<Bytes> firmware = reads->readBytes(firmwareUrl);
    if (!firmware.ok()) {
        return Result<void>::failure(firmware.error);
    }
    Result<Bytes> image = reads->readBytes(imageUrl);
    if (!image.ok()) {
        return Result<void>::failure(image.error);
    }
    takeRelease(UpMode::online, release, std::move(image.value), std::move(firmware.value));
    publish();
    return Result<void>::success();
}

}  // namespace tarvo
