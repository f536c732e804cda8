#include "config.h"

DaemonConfig g_config;

void config_reset() { g_config = DaemonConfig{}; }

int config_getMcuVersion() { return g_config.mcuVersion; }
void config_setMcuVersion(int version) { g_config.mcuVersion = version; }
