#pragma once
#include <cstdint>

// The module's pins through the GPIO sysfs interface, and their pull
// selection in the SoC's pin-configuration registers through /dev/mem.
// Pins are module pin numbers. Results: 0 success; -1 the sysfs attribute
// does not exist; -2 the pin is above 144 or not in the table; -3 an open,
// write, read or mapping failed.

struct GpioPin {
    uint32_t pin;      // module pin
    uint32_t socGpio;  // the number sysfs knows it by
    char name[28];     // "gpio<socGpio>"
};

constexpr int kGpioNoAttribute = -1;
constexpr int kGpioUnsupported = -2;
constexpr int kGpioFailed = -3;

const GpioPin* gpio_pin_lookup(uint32_t pin);

int GpioSysfs_ExportGpio(uint32_t pin);
// Direction 1 writes "out", anything else "in".
int GpioSysfs_WriteDirection(uint32_t pin, int direction);
int GpioSysfs_WriteValue(uint32_t pin, int level);
// The value file's number; a failed read counts as 0.
int GpioSysfs_ReadValue(uint32_t pin);

// Replaces the two lowest bits of the pin's configuration register.
int gpio_pull_select(uint32_t pin, uint32_t pull);
int gpio_setup(uint32_t pin, int direction, int level, uint32_t pull);
int gpio_set(uint32_t pin, int level);
int gpio_get(uint32_t pin);
