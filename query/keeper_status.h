// `timecal-query.exe --status` (keeper_status.cpp prints its lines). Its
// exit codes stay clear of the measurement's (timecal_query.cpp): 0 the
// service runs, 1 it is stopped (installed, its pipe silent), 4 it is not
// installed; 2 stays "bad arguments".
#pragma once

namespace query {

constexpr int kStatusRunning = 0;
constexpr int kStatusStopped = 1;
constexpr int kStatusNotInstalled = 4;

// Prints the service's state and last result; one of the codes above.
int PrintKeeperStatus();

}  // namespace query
