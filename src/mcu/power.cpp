#include "power.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "device_root.h"
#include "time_seam.h"

int run_command(const char* format, ...) {
    char command[256];
    va_list args;
    va_start(args, format);
    vsnprintf(command, sizeof command, format, args);
    va_end(args);
    return std::system(command);
}

int power_action(int mode) {
    int status = run_command("echo \"modem_powerdown\" > %s",
                             device_path("/sys/power/wake_lock").c_str());
    sleep_microseconds(200);
    if (mode == 0) status = std::system("halt");
    if (mode == 1) status = std::system("reboot");
    return status;
}
