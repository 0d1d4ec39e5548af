#include "tcontroller/platform/linux/udisks_volume_watcher.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <algorithm>
#include <iterator>
#include <tuple>

#include "tcontroller/base/log.h"
#include "tcontroller/platform/linux/sysfs_usb_port.h"

namespace tarvo {
namespace {

const QString kService = QStringLiteral("org.freedesktop.UDisks2");
const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");
const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBlock = QStringLiteral("org.freedesktop.UDisks2.Block");
const QString kFilesystem = QStringLiteral("org.freedesktop.UDisks2.Filesystem");
const QString kDrive = QStringLiteral("org.freedesktop.UDisks2.Drive");
constexpr int kReadTimeoutMs = 5000;

using Interfaces = QMap<QString, QVariantMap>;
using Objects = QMap<QString, Interfaces>;

// GetManagedObjects' a{oa{sa{sv}}}, by object path.
Objects demarshalObjects(const QDBusArgument& arg) {
    Objects objects;
    arg.beginMap();
    while (!arg.atEnd()) {
        QDBusObjectPath path;
        Interfaces interfaces;
        arg.beginMapEntry();
        arg >> path;
        arg.beginMap();
        while (!arg.atEnd()) {
            QString name;
            QVariantMap properties;
            arg.beginMapEntry();
            arg >> name >> properties;
            arg.endMapEntry();
            interfaces.insert(name, properties);
        }
        arg.endMap();
        arg.endMapEntry();
        objects.insert(path.path(), interfaces);
    }
    arg.endMap();
    return objects;
}

// A filesystem's MountPoints (aay): NUL-terminated byte strings.
std::vector<std::string> mountPointsOf(const QVariant& value) {
    std::vector<std::string> points;
    if (value.metaType() != QMetaType::fromType<QDBusArgument>()) {
        return points;
    }
    QList<QByteArray> raw;
    value.value<QDBusArgument>() >> raw;
    for (QByteArray point : raw) {
        while (point.endsWith('\0')) {
            point.chop(1);
        }
        if (!point.isEmpty()) {
            points.emplace_back(point.constData(), static_cast<std::size_t>(point.size()));
        }
    }
    return points;
}

// A byte-string property (ay) such as a block's Device: NUL-terminated.
std::string byteString(const QVariant& value) {
    QByteArray bytes;
    if (value.metaType() == QMetaType::fromType<QByteArray>()) {
        bytes = value.toByteArray();
    } else if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        value.value<QDBusArgument>() >> bytes;
    }
    while (bytes.endsWith('\0')) {
        bytes.chop(1);
    }
    return bytes.toStdString();
}

QString objectPathOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>()) {
        return value.value<QDBusObjectPath>().path();
    }
    return {};
}

}  // namespace

void UDisksAgent::changed(const QDBusMessage& /*message*/) {
    watcher_->tableChanged();
}

UDisksVolumeWatcher::UDisksVolumeWatcher(QDBusConnection bus, Options options)
    : bus_(std::move(bus)), options_(std::move(options)) {}

UDisksVolumeWatcher::~UDisksVolumeWatcher() {
    stop();
}

Result<UDisksVolumeWatcher::Table> UDisksVolumeWatcher::readTable() const {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kRoot, kObjectManager, "GetManagedObjects");
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kReadTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
        reply.arguments().front().metaType() != QMetaType::fromType<QDBusArgument>()) {
        return Result<Table>::failure("UDisks does not answer: " +
                                      reply.errorMessage().toStdString());
    }
    const Objects objects = demarshalObjects(reply.arguments().front().value<QDBusArgument>());
    Table table;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const Interfaces& interfaces = it.value();
        if (!interfaces.contains(kBlock) || !interfaces.contains(kFilesystem)) {
            continue;
        }
        const QVariantMap& block = interfaces[kBlock];
        if (block.value(QStringLiteral("IdLabel")).toString().toStdString() != options_.label) {
            continue;
        }
        // Only a drive on USB: a partition of an internal disk that happens to
        // carry the label is never written.
        const Interfaces drive = objects.value(objectPathOf(block.value(QStringLiteral("Drive"))));
        if (drive.value(kDrive).value(QStringLiteral("ConnectionBus")).toString() != "usb") {
            continue;
        }
        Volume& volume = table[it.key().toStdString()];
        volume.mountPoints =
            mountPointsOf(interfaces[kFilesystem].value(QStringLiteral("MountPoints")));
        volume.usbPort = usbPortOfBlockDevice(byteString(block.value(QStringLiteral("Device"))),
                                              options_.sysfsRoot);
    }
    return Result<Table>::success(std::move(table));
}

QVariantMap UDisksVolumeWatcher::info(const std::string& mountPoint,
                                      const std::string& usbPort) const {
    // Only drives on USB are in the table (readTable), so the bus is known.
    return {{QString::fromLatin1(kVolumePathKey), QString::fromStdString(mountPoint)},
            {QString::fromLatin1(kVolumeLabelKey), QString::fromStdString(options_.label)},
            {QString::fromLatin1(kVolumeBusKey), QStringLiteral("usb")},
            {QString::fromLatin1(kVolumeUsbPortKey), QString::fromStdString(usbPort)}};
}

UDisksVolumeWatcher::Points UDisksVolumeWatcher::pointsOf(const Table& table) {
    Points points;
    for (const auto& [object, volume] : table) {
        for (const std::string& point : volume.mountPoints) {
            points.emplace(point, volume.usbPort);
        }
    }
    return points;
}

Result<void> UDisksVolumeWatcher::start() {
    if (thread_.joinable()) {
        return Result<void>::success();
    }
    if (!bus_.isConnected()) {
        return Result<void>::failure("no system bus: " + bus_.lastError().message().toStdString());
    }
    Result<Table> table = readTable();
    if (!table.ok()) {
        return Result<void>::failure(table.error);
    }
    {
        std::lock_guard<std::mutex> hold(mutex_);
        table_ = *table.value;
        atStart_ = pointsOf(table_);
    }
    std::promise<bool> subscribed;
    std::future<bool> answer = subscribed.get_future();
    thread_ = std::thread([this, &subscribed] { run(subscribed); });
    if (!answer.get()) {
        thread_.join();
        return Result<void>::failure("cannot subscribe to UDisks' signals");
    }
    return Result<void>::success();
}

void UDisksVolumeWatcher::run(std::promise<bool>& subscribed) {
    // The agent, the event loop, its timers and pending mount answers all
    // live and die on this thread.
    QEventLoop loop;
    UDisksAgent agent(this);
    const auto subscribe = [&](bool on) {
        bool ok = true;
        for (const auto& [path, interface, name] :
             {std::tuple{kRoot, kObjectManager, QStringLiteral("InterfacesAdded")},
              std::tuple{kRoot, kObjectManager, QStringLiteral("InterfacesRemoved")},
              std::tuple{QString(), kProperties, QStringLiteral("PropertiesChanged")}}) {
            ok = (on ? bus_.connect(kService, path, interface, name, &agent,
                                    SLOT(changed(QDBusMessage)))
                     : bus_.disconnect(kService, path, interface, name, &agent,
                                       SLOT(changed(QDBusMessage)))) &&
                 ok;
        }
        return ok;
    };
    const bool ok = subscribe(true);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        agent_ = &agent;
        loop_ = ok ? &loop : nullptr;
    }
    subscribed.set_value(ok);
    if (ok) {
        // A change between the first reading and the subscription is caught
        // here; drives already there unmounted get their mount scheduled.
        tableChanged();
        loop.exec();
    }
    subscribe(false);
    std::lock_guard<std::mutex> hold(mutex_);
    agent_ = nullptr;
    loop_ = nullptr;
}

void UDisksVolumeWatcher::stop() {
    {
        std::lock_guard<std::mutex> hold(mutex_);
        if (loop_ != nullptr) {
            QMetaObject::invokeMethod(loop_, "quit", Qt::QueuedConnection);
        }
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::vector<QVariantMap> UDisksVolumeWatcher::mountedAtStart() const {
    std::lock_guard<std::mutex> hold(mutex_);
    std::vector<QVariantMap> out;
    for (const auto& [point, usbPort] : atStart_) {
        out.push_back(info(point, usbPort));
    }
    return out;
}

void UDisksVolumeWatcher::tableChanged() {
    Result<Table> read = readTable();
    if (!read.ok()) {
        logLine("volume watch: " + escapeForLog(read.error));
        return;
    }
    Points mounted;
    Points unmounted;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        const Points before = pointsOf(table_);
        const Points after = pointsOf(*read.value);
        const auto byPoint = [](const auto& a, const auto& b) { return a.first < b.first; };
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                            std::inserter(mounted, mounted.end()), byPoint);
        std::set_difference(before.begin(), before.end(), after.begin(), after.end(),
                            std::inserter(unmounted, unmounted.end()), byPoint);
        // A drive that left may be mounted again when it comes back.
        for (auto it = mountAsked_.begin(); it != mountAsked_.end();) {
            it = read.value->count(*it) != 0 ? std::next(it) : mountAsked_.erase(it);
        }
        table_ = *read.value;
    }
    for (const auto& [point, usbPort] : unmounted) {
        emit didUnmount(info(point, usbPort));
    }
    for (const auto& [point, usbPort] : mounted) {
        emit didMount(info(point, usbPort));
    }
    scheduleMounts(*read.value);
}

void UDisksVolumeWatcher::scheduleMounts(const Table& table) {
    for (const auto& [object, volume] : table) {
        if (!volume.mountPoints.empty()) {
            continue;
        }
        {
            std::lock_guard<std::mutex> hold(mutex_);
            if (!mountAsked_.insert(object).second) {
                continue;
            }
        }
        // The desktop's automounter usually takes the drive within a second;
        // only when nothing does is it mounted from here.
        QTimer::singleShot(options_.mountAfter, agent_,
                           [this, object = object] { mountIfStillUnmounted(object); });
    }
}

void UDisksVolumeWatcher::mountIfStillUnmounted(const std::string& object) {
    const Result<Table> read = readTable();
    if (!read.ok()) {
        return;
    }
    const auto it = read.value->find(object);
    if (it == read.value->end() || !it->second.mountPoints.empty()) {
        return;
    }
    logLine("mounting " + options_.label + " through UDisks");
    QDBusMessage call = QDBusMessage::createMethodCall(kService, QString::fromStdString(object),
                                                       kFilesystem, QStringLiteral("Mount"));
    call << QVariantMap{};
    // The active local session may mount removable media; elsewhere the
    // system asks for a password, which may take the user a while.
    call.setInteractiveAuthorizationAllowed(true);
    auto* pending = new QDBusPendingCallWatcher(
        bus_.asyncCall(call, static_cast<int>(options_.mountTimeout.count())), agent_);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, agent_,
                     [this](QDBusPendingCallWatcher* done) {
                         const QDBusPendingReply<QString> reply = *done;
                         done->deleteLater();
                         mountAnswered(reply.isError() ? reply.error().message() : QString(),
                                       reply.isError() ? QString() : reply.value());
                     });
}

void UDisksVolumeWatcher::mountAnswered(const QString& error, const QString& path) {
    if (!error.isEmpty()) {
        logLine("could not mount " + options_.label + ": " + escapeForLog(error.toStdString()));
        emit mountFailed(QString::fromStdString(options_.label), error);
        return;
    }
    logLine("mounted " + options_.label + " at " + escapeForLog(path.toStdString()));
    // The new mount point is reported by the reading, like any other mount.
    tableChanged();
}

}  // namespace tarvo
