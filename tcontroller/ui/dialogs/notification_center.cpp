#include "tcontroller/ui/dialogs/notification_center.h"

namespace tarvo {

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may still disconnect from it during shutdown.
    static auto* center = new NotificationCenter;
    return *center;
}

void NotificationCenter::post(const QString& name, const QVariant& object) {
    emit notified(name, object);
}

}  // namespace tarvo
