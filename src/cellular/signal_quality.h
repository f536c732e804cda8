#pragma once
#include <cstddef>

// Signal level and bars from the NW service, with the AT port's serving-cell
// report when the LTE level is unusable.

// dBm (negative), 1 when the SIM is missing, 0 when no level is available.
int signal_dbm();
// The same; *lte, when given, tells whether the LTE group gave the level.
int signal_dbm_typed(int* lte = nullptr);
// 0..5, -1 when the SIM is missing.
int signal_bars();
// The level from "at+qeng=\"servingcell\"", 0 when there is none.
int signal_servingcell_dbm();
// The AT answer field extractor; `out` holds at least max_length + 1 bytes.
void at_field(char* out, const char* text, size_t text_length, const char* start_delimiter,
              int start_count, int start_offset, const char* end_delimiter, int end_count,
              int end_offset, size_t max_length);

// The NW client handle, created on demand and kept; 0 when it cannot be had.
unsigned nw_client();