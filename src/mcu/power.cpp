#include "power.h"

#include <cstdlib>

#include "device_root.h"
#include "run_command.h"
#include "time_seam.h"

int power_action(int mode) {
    int status = run_command("echo \"modem_powerdown\" > %s",
                             device_path("/sys/power/wake_lock").c_str());
    sleep_microseconds(200);
    if (mode == 0) status = std::system("halt");
    if (mode == 1) status = std::system("reboot");
    return status;
}
