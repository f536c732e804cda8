#pragma once
#include <atomic>

// What the cellular manager tells the other threads; flags are polled without waiting.
struct CellularStatus {
    std::atomic<int> modemReady{0};
    std::atomic<int> dataCallUp{0};
    std::atomic<int> timeKnown{0};
    std::atomic<int> simMissing{0};
};

extern CellularStatus g_cellular;
