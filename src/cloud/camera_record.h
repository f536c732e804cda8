#pragma once
#include "core/json_util.h"

struct json_object;

// The camera record: the device's status, the pictures on offer and the
// acknowledgements of carried-out requests, PUT to the service's camera
// endpoint; the answer's configuration and upload instructions are acted on.

// mode 0: a regular sync; 1: the first sync after installation (one picture).
// 0 when the exchange ran to its end, -1 when a PUT failed (a refused token
// is then forgotten, so the next attempt fetches a new one).
int cloud_camera_exchange(char* token, int mode);

// The status object with its members in the service's order.
JsonPtr camera_status_build();

// Adds {"<kind>": {"execute": false}} for each set bit of requestUpdateReset
// and returns the bits added. They stay set until a PUT carrying them is
// accepted, so a document that is never sent loses nothing.
int request_resets_add(json_object* document);

struct BatteryReport {
    int percent;
    const char* type;  // "12V", "AA", "AA_LIT" or "KRB10"
};
// External voltage in tenths of a volt, internal (AA) in hundredths.
BatteryReport battery_report(int battExt, int battAA, int battType);
// 0 fine, 1 low (reported as "low_battery"), 2 exhausted.
int battery_level_class(int battExt, int battAA);
