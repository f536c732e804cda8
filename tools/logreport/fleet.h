#pragma once
// A folder of event logs, one per camera: a line per camera, the one that
// needs a visit first.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/logreport/log_report.h"

// One camera's log in a few figures; "recent" is the 30 days up to its last wake.
struct Camera {
    std::string name;  // the log's file name
    bool readable = false;
    int wakes = 0;
    std::string lastWake;  // the last wake's start, as the log writes it
    int64_t lastTime = 0;  // the same on the report's time line; 0: no clock ever set
    double battery = -1;   // the last AA reading, volts
    double trend = 0;      // volts per 30 days over the recent AA readings
    bool trendKnown = false;
    bool lowBattery = false;  // the last camera record said so
    int recentWakes = 0, recentWithoutData = 0, recentUploadsFailed = 0, recentUpdates = 0;
    bool recentRolledBack = false, recentMcuFlashFailed = false;
    std::string topError;  // the log's most frequent error
    // The recent wakes' times and AA readings (NAN: none), for a sparkline.
    std::vector<int64_t> times;
    std::vector<double> batteries;
    std::string visit;  // why to go there first; empty: nothing calls for it
    std::string page;   // its own page, beside the fleet's; empty: none
};

// The figures of one log's wakes and totals.
Camera camera_of(const std::string& name, const std::vector<Wake>& wakes, const LogTotals& totals);
// The cameras ordered by need of a visit, each with the reason: an unreadable
// log, no wake for more than two days while others woke, low battery (as the
// camera record said), a tenth or more of the recent wakes without a data
// call, a failed update; then the most wakes without a data call and the
// battery falling fastest.
void fleet_order(std::vector<Camera>& cameras);
std::string fleet_table(const std::vector<Camera>& cameras);
// The fleet as a page, each camera linked to its own page.
bool write_fleet_page(FILE* out, const char* title, const std::vector<Camera>& cameras);
