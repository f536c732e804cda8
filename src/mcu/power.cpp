#include "mcu/power.h"

#include <cstdlib>

#include "core/device_root.h"
#include "core/run_command.h"
#include "core/time_seam.h"

int power_action(int mode) {
    int status = run_command("echo \"modem_powerdown\" > %s",
                             device_path("/sys/power/wake_lock").c_str());
    sleep_microseconds(200);
    if (mode == 0) status = std::system("halt");
    if (mode == 1) status = std::system("reboot");
    return status;
}
