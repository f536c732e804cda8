#pragma once
#include <cstddef>

// Handles one chunk read from the MCU port. `chunk` is terminated at
// chunk[length]; only its first line is acted upon.
void mcu_handle_chunk(const char* chunk, size_t length);
