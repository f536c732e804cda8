#pragma once
#include <cstdint>

// Shared between the registry and the request members of the MCM layer.

// The process-wide client handle, 0 while no client exists.
uint32_t mcm_shared_handle();
