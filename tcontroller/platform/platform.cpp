#include "tcontroller/platform/platform.h"

namespace tarvo {

std::vector<std::string> bootloaderMountPointsFor(const std::string& user) {
    std::vector<std::string> points{"/Volumes/CRP DISABLE"};
    if (!user.empty()) {
        points.push_back("/media/" + user + "/CRP DISABLE");
        points.push_back("/run/media/" + user + "/CRP DISABLE");
    }
    points.push_back("/media/CRP DISABLE");
    return points;
}

}  // namespace tarvo
