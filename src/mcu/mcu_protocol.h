#pragma once

// Handles one chunk read from the MCU port (a terminated text); only its
// first line is acted upon.
void mcu_handle_chunk(const char* chunk);
