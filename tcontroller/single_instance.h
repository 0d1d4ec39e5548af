#pragma once

#include <QObject>
#include <chrono>
#include <memory>
#include <string>

#include "tcontroller/base/result.h"

class QLocalServer;
class QLocalSocket;

namespace tarvo {

// One running tool per user session. The first start takes an exclusive lock
// on NAME.lock in a private folder and holds it for the life of the process;
// the kernel drops it when the process ends, however it ends, so a crashed run
// never blocks the next start. The first start also listens on NAME.socket
// beside the lock. A later start finds the lock taken, connects to the socket
// and asks the first to bring its window to the front, then ends.
//
// The request is one line, "raise"; the first answers "raised" once it has
// emitted raiseRequested().
//
// QtCore and QtNetwork only: the window and a command line can share it.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Claim {
        First,  // this process holds the lock: call listen()
        Taken,  // another process holds it: askToRaise(), then end
    };

    // `folder` holds NAME.lock and NAME.socket.
    SingleInstance(std::string folder, std::string name);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // $XDG_RUNTIME_DIR, or /tmp/tarvo-remote-update-<uid> when it is unset or
    // not an absolute path.
    static std::string defaultFolder();

    // Tries the lock without waiting, creating the folder (mode 0700) when it
    // is missing. Fails when the folder cannot be trusted (a link, another
    // user's, writable by others) or the lock file cannot be opened; the
    // caller then runs without the check.
    Result<Claim> claim();

    // The holder of the lock: removes a socket that a run which ended without
    // closing it left behind, and listens for later starts.
    Result<void> listen();

    // A later start: asks the holder of the lock to come to the front. True
    // once it answered; false when it could not be reached within `wait` (it
    // may still be starting without listening yet, or be hung).
    bool askToRaise(std::chrono::milliseconds wait) const;

    std::string socketPath() const { return folder_ + "/" + name_ + ".socket"; }

  signals:
    // A later start asked for the window.
    void raiseRequested();

  private:
    void serve(QLocalSocket* socket);

    std::string folder_;
    std::string name_;
    int lockFd_ = -1;
    std::unique_ptr<QLocalServer> server_;
};

}  // namespace tarvo
