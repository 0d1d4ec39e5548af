#include "tcontroller/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace tarvo {
namespace {

constexpr QByteArrayView kRequest = "raise\n";
constexpr QByteArrayView kAnswer = "raised\n";
// Longer than either line: a peer sending more is not one of ours.
constexpr qint64 kMaxLine = 64;
// A connection that says nothing is dropped after this long.
constexpr int kIdleConnectionMs = 5000;
// Between attempts to reach a holder of the lock that does not listen yet.
constexpr int kConnectRetryMs = 50;

// Opens `folder` (creating it 0700) and checks that only this user can put
// files in it: no link, a folder of this user's (or any, for root), not
// writable by group or others.
Result<int> openPrivateFolder(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return Result<int>::failure("cannot create " + folder + ": " + errnoText(errno));
    }
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        struct stat st {};
        if (::lstat(folder.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            return Result<int>::failure(folder + " is a symbolic link");
        }
        return Result<int>::failure("cannot open " + folder + ": " + errnoText(err));
    }
    struct stat st {};
    std::string refused;
    if (::fstat(fd, &st) != 0) {
        refused = "cannot read " + folder + ": " + errnoText(errno);
    } else if (st.st_uid != ::geteuid() && ::geteuid() != 0) {
        refused = folder + " belongs to another user";
    } else if ((st.st_mode & 022) != 0) {
        refused = folder + " is writable by other users";
    }
    if (!refused.empty()) {
        ::close(fd);
        return Result<int>::failure(refused);
    }
    return Result<int>::success(fd);
}

}  // namespace

SingleInstance::SingleInstance(std::string folder, std::string name)
    : folder_(std::move(folder)), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
    server_.reset();
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
}

std::string SingleInstance::defaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return runtime;
    }
    return "/tmp/tarvo-remote-update-" + std::to_string(::geteuid());
}

Result<SingleInstance::Claim> SingleInstance::claim() {
    if (lockFd_ >= 0) {
        return Result<Claim>::success(Claim::First);
    }
    const Result<int> folder = openPrivateFolder(folder_);
    if (!folder.ok()) {
        return Result<Claim>::failure(folder.error);
    }
    const std::string lockName = name_ + ".lock";
    const int fd = ::openat(*folder.value, lockName.c_str(),
                            O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int openErr = errno;
    ::close(*folder.value);
    if (fd < 0) {
        return Result<Claim>::failure("cannot open " + folder_ + "/" + lockName + ": " +
                                      errnoText(openErr));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        lockFd_ = fd;
        return Result<Claim>::success(Claim::First);
    }
    const int lockErr = errno;
    ::close(fd);
    if (lockErr == EWOULDBLOCK) {
        return Result<Claim>::success(Claim::Taken);
    }
    return Result<Claim>::failure("cannot lock " + folder_ + "/" + lockName + ": " +
                                  errnoText(lockErr));
}

Result<void> SingleInstance::listen() {
    const QString path = QString::fromStdString(socketPath());
    // Only the holder of the lock gets here, so a socket file at the path is
    // one that a run which ended without closing it left behind.
    QLocalServer::removeServer(path);
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    connect(server_.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            serve(socket);
        }
    });
    if (!server_->listen(path)) {
        const std::string why = server_->errorString().toStdString();
        server_.reset();
        return Result<void>::failure("cannot listen on " + socketPath() + ": " + why);
    }
    return Result<void>::success();
}

void SingleInstance::serve(QLocalSocket* socket) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kIdleConnectionMs, socket, &QLocalSocket::abort);
    const auto read = [this, socket] {
        if (!socket->canReadLine()) {
            if (socket->bytesAvailable() > kMaxLine) {
                socket->abort();
            }
            return;
        }
        if (socket->readLine(kMaxLine) == kRequest) {
            emit raiseRequested();
            socket->write(kAnswer.data(), kAnswer.size());
        }
        // Closes once the answer is written.
        socket->disconnectFromServer();
    };
    connect(socket, &QLocalSocket::readyRead, this, read);
    read();
}

bool SingleInstance::askToRaise(std::chrono::milliseconds wait) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + wait;
    const auto msLeft = [deadline] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
    };
    QLocalSocket socket;
    // The holder of the lock may be starting and not listen yet, while the
    // socket of a run that crashed may still be in its place.
    for (;;) {
        socket.connectToServer(QString::fromStdString(socketPath()));
        if (socket.waitForConnected(msLeft())) {
            break;
        }
        socket.abort();
        if (msLeft() == 0) {
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(std::min(kConnectRetryMs, msLeft())));
    }
    socket.write(kRequest.data(), kRequest.size());
    if (!socket.waitForBytesWritten(msLeft())) {
        return false;
    }
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() <= kMaxLine) {
        if (!socket.waitForReadyRead(msLeft())) {
            return false;
        }
        answer += socket.readAll();
    }
    return answer == kAnswer;
}

}  // namespace tarvo
