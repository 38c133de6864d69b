// Dates counted as "seconds since 1970 in local time": a local-time count L is
// the wall-clock reading whose gmtime shows the local clock.
#pragma once

#include <cstdint>
#include <ctime>

namespace kestrune {

// The current local time as such a count.
int64_t LocalTimeNow();
// A real time (time_t) to a local-time count and back (DST decided by the
// system).
int64_t ToLocalCount(time_t real);
time_t FromLocalCount(int64_t local);
// Broken-down local time now (for the date tokens of output names).
std::tm LocalNow();

}  // namespace kestrune
