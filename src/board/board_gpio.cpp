#include "board/board_gpio.h"

#include <cstdint>

#include "core/event_log.h"
#include "board/gpio.h"

namespace {

constexpr uint32_t kPinSimControl = 41;
constexpr uint32_t kPinSimControl2 = 37;
constexpr int kInput = 0;
constexpr int kOutput = 1;
constexpr int kNoRevisionBit = -1;

struct BoardLine {
    const char* role;
    uint32_t pin;
    int direction;
    int level;
    int revisionBit;
};

// Set up in this order, all with pull selection 0.
constexpr BoardLine kBoardLines[] = {
    {"SD Card Busy", 2, kInput, 0, kNoRevisionBit},
    {"Sims control tmp", kPinSimControl2, kOutput, 0, kNoRevisionBit},
    {"Sims control", kPinSimControl, kOutput, 0, kNoRevisionBit},
    {"REV ID 1", 24, kInput, 0, 0},
    {"REV ID 2", 39, kInput, 0, 1},
    {"REV ID 3", 3, kInput, 0, 2},
    {"REV ID 4", 4, kInput, 0, 3},
};

}  // namespace

void board_gpio_init() {
    for (const BoardLine& line : kBoardLines) {
        const int rc = gpio_setup(line.pin, line.direction, line.level, 0);
        if (rc != 0) log_event("gpio", 2, "Error GPIO (%s) - %d", line.role, rc);
    }
}

int board_revision() {
    int revision = 1;
    for (const BoardLine& line : kBoardLines) {
        if (line.revisionBit == kNoRevisionBit) continue;
        // A failure code must not subtract from the revision.
        if (gpio_get(line.pin) > 0) revision += 1 << line.revisionBit;
    }
    return revision;
}

void sim_gpio_select(int slot) {
    const int level = slot == 0 ? 0 : 1;
    gpio_set(kPinSimControl, level);
    gpio_set(kPinSimControl2, level);
}
