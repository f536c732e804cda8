#pragma once
#include <cstdint>

// Board temperature from the ADC, and the SD card's space.

// Channel 1 to 4 divided by 1000 (millivolts), or -1.
int32_t adc_read(int channel);
// Degrees Celsius, logged. kTemperatureUnknown when the sensor cannot be read.
int32_t board_temperature();
constexpr int32_t kTemperatureUnknown = 99;

// Whole MiB of `blocks` blocks of `fragmentSize` bytes.
int32_t storage_mib(uint64_t fragmentSize, uint64_t blocks);
// Also stored in sdAvailableMiB / sdUsedMiB; 0 when the card cannot be
// queried, the stored figure then kept.
int32_t sd_available_mib();
// Bytes of the card free to the daemon; 0 when the card cannot be queried.
uint64_t sd_available_bytes();
int32_t sd_used_mib();
