#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

namespace tarvo {

// The application's default notification centre: named notifications with one
// object, delivered to every observer. An observer connects to `notified` with
// itself as the context object, so its registration ends when it is destroyed.
// Used on the main thread (the rows of the version chooser post to it).
class NotificationCenter : public QObject {
    Q_OBJECT
  public:
    static NotificationCenter& defaultCenter();

    void post(const QString& name, const QVariant& object = {});

  signals:
    void notified(const QString& name, const QVariant& object);

  private:
    NotificationCenter() = default;
};

}  // namespace tarvo
