#include "cellular/signal_quality.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "cellular/at_exchange.h"
#include "core/cellular_status.h"
#include "core/daemon_state.h"
#include "core/event_log.h"
#include "modem_sdk/ql_mcm.h"

namespace {

// The cellular thread and the MCU reader both ask for signal levels.
std::mutex g_nwMutex;
std::atomic<uint32_t> g_nwHandle{0};

constexpr int kServingCellChecks = 9;
constexpr int kLteBarOffset = 15;

struct BarStep {
    int floor;  // the level must be at least this
    int bars;
};
constexpr BarStep kBarSteps[] = {{-73, 5}, {-82, 4}, {-92, 3}, {-101, 2}, {-110, 1}};

struct Level {
    int dbm = 0;       // 0: none
    bool lte = false;  // the LTE group gave it
};

int nw_client_init(uint32_t& handle) {
    std::lock_guard<std::mutex> lock(g_nwMutex);
    handle = g_nwHandle.load();
    if (handle != 0) return 0;
    const int rc = QL_MCM_NW_Client_Init(&handle);
    if (rc == 0) g_nwHandle = handle;
    return rc;
}

// The first valid group of the NW service's report; failures are logged and give 0.
Level read_level() {
    Level level;
    uint32_t handle = 0;
    if (const int rc = nw_client_init(handle)) {
        log_event("signal", 2, "NW Client initialisation error: %d", rc);
        return level;
    }
    QlNwSignalStrength strength{};
    if (const int rc = QL_MCM_NW_GetSignalStrength(handle, &strength)) {
        log_event("signal", 2, "Cannot get signal: %d", rc);
        return level;
    }
    if (strength.gsm_valid) {
        level.dbm = strength.gsm_rssi;
    } else if (strength.wcdma_valid) {
        level.dbm = strength.wcdma_rssi;
    } else if (strength.tdscdma_valid) {
        level.dbm = strength.tdscdma_rssi;
    } else if (strength.lte_valid) {
        level.lte = true;
        level.dbm = strength.lte_rsrp < 0 ? strength.lte_rsrp : signal_servingcell_dbm();
    } else if (strength.cdma_valid) {
        level.dbm = strength.cdma_rssi;
    } else if (strength.hdr_valid) {
        level.dbm = strength.hdr_rssi;
    } else {
        log_event("signal", 2, "No valid signal");
    }
    return level;
}

// 0 also for a level of 0 or more: no usable reading.
int bars_for(int level) {
    if (level >= 0) return 0;
    for (const BarStep& step : kBarSteps)
        if (level >= step.floor) return step.bars;
    return 0;
}

// Start of the field after `count` delimiters plus `offset`; nullptr when a
// delimiter is missing or the start falls outside [text, end].
const char* field_start(const char* text, const char* end, const char* delimiter, int count,
                        int offset) {
    if (delimiter == nullptr) return text;
    const auto length = static_cast<std::ptrdiff_t>(std::strlen(delimiter));
    std::ptrdiff_t base = -length;  // count 0: as if a delimiter ended just before the text
    const char* at = text;
    for (int found = 0; found < count; ++found) {
        const char* match = std::search(at, end, delimiter, delimiter + length);
        if (match == end) return nullptr;
        base = match - text;
        at = match + length;
    }
    const std::ptrdiff_t position = base + offset;
    return position < 0 || position > end - text ? nullptr : text + position;
}

}  // namespace

unsigned nw_client() {
    uint32_t handle = 0;
    return nw_client_init(handle) == 0 ? handle : 0;
}

// For tests (state_reset.h).
void nw_client_reset() {
    std::lock_guard<std::mutex> lock(g_nwMutex);
    g_nwHandle = 0;
}

int signal_dbm_typed(int* lte) {
    if (lte != nullptr) *lte = 0;
    if (g_cellular.simMissing) {
        log_event("signal", 2, "No sim card");
        return 1;
    }
    const Level level = read_level();
    if (lte != nullptr && level.lte) *lte = 1;
    return level.dbm;
}

int signal_dbm() { return signal_dbm_typed(nullptr); }

int signal_bars() {
    if (g_cellular.simMissing) return -1;
    if (g_cellular.modemReady != 1) {
        log_event("cellular", 0, "Signal strength: 0");
        return 0;
    }
    Level level = read_level();
    log_event("cellular", 0, "Signal strength: %d", level.dbm);
    if (level.lte) level.dbm += kLteBarOffset;
    if (level.dbm == 1) return -1;
    const int bars = bars_for(level.dbm);
    if (bars == 0) log_event("cellular", 0, "Signal strength: 0");
    return bars;
}

int signal_servingcell_dbm() {
    char answer[kAtResponseSize + 1] = {};
    if (!at_exchange("at+qeng=\"servingcell\"\r", kServingCellChecks, answer, sizeof answer))
        return 0;
    constexpr char kMarker[] = "+QENG: ";
    const char* match = std::strstr(answer, kMarker);
    if (match == nullptr) return 0;
    // Past the marker and the quotation mark opening the first field, unless the answer ends there.
    const char* text = match + std::strlen(kMarker);
    if (*text != '\0') ++text;
    const size_t length = std::strlen(text);
    char state[9];
    at_field(state, text, length, ",", 1, 2, ",", 1, -1, 8);
    if (std::strncmp(state, "NOCONN", 6) != 0) return 0;
    char value[5];
    at_field(value, text, length, ",", 10, 1, ",", 1, 0, 4);
    if (value[0] == '-') return std::atoi(value);
    at_field(value, text, length, ",", 13, 1, ",", 1, 0, 4);
    return std::atoi(value);
}

void at_field(char* out, const char* text, size_t text_length, const char* start_delimiter,
              int start_count, int start_offset, const char* end_delimiter, int end_count,
              int end_offset, size_t max_length) {
    std::memset(out, 0, max_length + 1);
    if (text == nullptr) return;
    const char* end = text + text_length;
    const char* start = field_start(text, end, start_delimiter, start_count, start_offset);
    if (start == nullptr || start >= end) return;
    const char* stop = end;
    if (end_delimiter != nullptr) {
        stop = field_start(start, end, end_delimiter, end_count, end_offset);
        if (stop == nullptr) return;
    }
    if (stop <= start) return;
    size_t length = static_cast<size_t>(stop - start);
    if (length > max_length) length = max_length;
    std::memcpy(out, start, length);
}
