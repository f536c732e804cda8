#include "mcu/mcu_protocol.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/cellular_status.h"
#include "core/clock_helpers.h"
#include "core/config.h"
#include "core/daemon_state.h"
#include "core/event_log.h"
#include "mcu/power.h"
#include "mcu/runs.h"
#include "core/schedule.h"
#include "cellular/signal_quality.h"
#include "core/time_seam.h"
#include "mcu/uart.h"
#include "update/update_trial.h"
#include "core/version.h"

namespace {

constexpr size_t kLineSize = 255;
constexpr size_t kNameSize = 25;
constexpr size_t kAnswerSize = 50;
constexpr size_t kUnknownTextSize = 100;
// The unknown-command answer is always exactly this long, NUL-padded.
constexpr size_t kUnknownAnswerLength = 50;
constexpr int kTimeWaitChecks = 28;

void answer(const char* format, ...) __attribute__((format(printf, 1, 2)));
void answer(const char* format, ...) {
    char text[kAnswerSize] = {};
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    mcu_send(text);
}

// Waits up to 29 seconds for the network time; answers whatever the clock says then.
void wait_time_known() {
    if (g_cellular.timeKnown.load()) return;
    sleep_seconds(1);
    for (int check = 0; check < kTimeWaitChecks && !g_cellular.timeKnown.load(); ++check)
        sleep_seconds(1);
}

void cmd_getsignalbar(const char*) { answer("%d\r\n", signal_bars()); }

void cmd_getdatetime(const char*) {
    wait_time_known();
    char fields[kAnswerSize];
    clock_fields_now(fields, sizeof fields);
    log_event("getdatetime", 0, "%s", fields);
    answer("%s\r\n", fields);
}

void cmd_setdatetime(const char* argument) {
    if (clock_set_from_fields(argument) == kClockOutOfRange)
        log_event("setdatetime", 1, "Date/time out of range:%s", argument);
    log_event("setdatetime", 0, "Date/time set from MCU");
}

void cmd_state(const char*) {
    mcu_send((config_getRequestUpdateReset() & kResetUpdate) ? "2" : "1");
}

void cmd_getnextsync(const char*) {
    int hour = 0, minute = 0;
    next_sync_time(&hour, &minute);
    log_event("config", 0, "Next sync: %02d:%02d", hour, minute);
    answer("%d %d\r\n", hour, minute);
}

void cmd_iseach(const char*) {
    int each = is_each();
    log_event("config", 0, "Is each: %d", each);
    answer("%d\r\n", each);
}

// The number after the first blank that follows the first number's text; 0 when none.
int second_number(const char* argument) {
    const char* first = argument + std::strspn(argument, " ");
    const char* blank = std::strchr(first, ' ');
    return blank ? static_cast<int>(std::strtol(blank, nullptr, 10)) : 0;
}

void cmd_setbatt(const char* argument) {
    const int aa = static_cast<int>(std::strtol(argument, nullptr, 10));
    config_setBattAA(aa);
    log_event("status", 0, "AA: %1.2fv", aa / 100.0);
    answer("AA: %d\r\n", aa);
    const int external = second_number(argument);
    config_setBattExt(external);
    log_event("status", 0, "Ext: %2.1fv", external / 10.0);
    answer("Ext: %d\r\n", external);
}

void cmd_mcuversion(const char* argument) {
    config_setMcuVersion(static_cast<int>(std::strtol(argument, nullptr, 10)));
    char version[kAnswerSize];
    version_string(version, sizeof version);
    log_event("main", 0, "Version: %s", version);
}

[[noreturn]] void cmd_powerdown(const char*) {
    log_event("main", 0, "Modem powerdown");
    update_trial_powerdown();
    power_action(0);
    daemon_exit(0);
}

struct Command {
    const char* word;
    void (*run)(const char* argument);
    bool endMark;
};

// Compared in this order, over the length of each word.
constexpr Command kCommands[] = {
    {"transfer", run_transfer, true},         {"process", run_process, true},
    {"sync", run_sync, true},                 {"cell", run_cell, true},
    {"firstsync", run_firstsync, true},       {"getsignalbar", cmd_getsignalbar, true},
    {"getdatetime", cmd_getdatetime, true},   {"setdatetime", cmd_setdatetime, true},
    {"state", cmd_state, true},               {"getnextsync", cmd_getnextsync, true},
    {"iseach", cmd_iseach, true},             {"setbatt", cmd_setbatt, true},
    {"mcuversion", cmd_mcuversion, true},     {"powerdown", cmd_powerdown, false},
};

const Command* find_command(const char* name) {
    for (const auto& command : kCommands)
        if (strncasecmp(name, command.word, std::strlen(command.word)) == 0) return &command;
    return nullptr;
}

// Copies `length` bytes into the line buffer; a line that does not fit with
// its terminator is dropped whole rather than cut.
bool copy_line(char (&line)[kLineSize], const char* start, size_t length) {
    if (length >= kLineSize) return false;
    std::memcpy(line, start, length);
    line[length] = '\0';
    return true;
}

void pass_through_at(const char* chunk) {
    const char* cr = std::strchr(chunk, '\r');
    char line[kLineSize] = {};
    if (cr == nullptr || !copy_line(line, chunk, static_cast<size_t>(cr - chunk) + 1)) return;
    at_send(line);
}

// The text between the first "+" and the next CR; false for a malformed line.
bool command_text(const char* chunk, char (&text)[kLineSize]) {
    if (std::strchr(chunk, '\r') == nullptr) return false;
    const char* plus = std::strchr(chunk, '+');
    if (plus == nullptr) return false;
    const char* cr = std::strchr(plus, '\r');
    if (cr == nullptr || cr == plus + 1) return false;
    return copy_line(text, plus + 1, static_cast<size_t>(cr - plus - 1));
}

// Splits at the first space (kept at the start of the argument); too long a name becomes empty.
const char* split_command(const char* text, char (&name)[kNameSize]) {
    const char* space = std::strchr(text, ' ');
    const char* argument = "";
    size_t length = std::strlen(text);
    if (space != nullptr && space != text) {
        argument = space;
        length = static_cast<size_t>(space - text);
    }
    if (length < kNameSize) {
        std::memcpy(name, text, length);
        name[length] = '\0';
    }
    return argument;
}

void answer_unknown(const char* name) {
    log_event("uart", 0, "Unknow command: %s", name);
    char text[kUnknownTextSize] = {};
    std::snprintf(text, sizeof text, "Unknown command : %s\r\n", name);
    mcu_send_bytes(text, kUnknownAnswerLength);
}

void run_daemon_command(const char* chunk) {
    char text[kLineSize] = {};
    if (!command_text(chunk, text)) return;
    g_state.mcuSpoke = 1;
    char name[kNameSize] = {};
    const char* argument = split_command(text, name);
    const Command* command = find_command(name);
    if (command == nullptr) {
        answer_unknown(name);
        return;
    }
    command->run(argument);
    if (command->endMark) mcu_send_eot();
}

}  // namespace

void mcu_handle_chunk(const char* chunk) {
    if (std::strlen(chunk) < 2) return;
    if (strncasecmp(chunk, "at", 2) == 0) {
        pass_through_at(chunk);
        return;
    }
    if (strncasecmp(chunk, "qz", 2) == 0) run_daemon_command(chunk);
}
