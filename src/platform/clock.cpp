#include "platform/clock.h"

namespace kestrune {

int64_t ToLocalCount(time_t real) {
    std::tm local{};
    localtime_r(&real, &local);
    return static_cast<int64_t>(timegm(&local));
}

time_t FromLocalCount(int64_t local) {
    const time_t t = static_cast<time_t>(local);
    std::tm broken{};
    gmtime_r(&t, &broken);
    broken.tm_isdst = -1;  // let the system decide daylight saving time
    return mktime(&broken);
}

int64_t LocalTimeNow() { return ToLocalCount(time(nullptr)); }

std::tm LocalNow() {
    const time_t now = time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

}  // namespace kestrune
