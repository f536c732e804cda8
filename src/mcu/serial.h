#pragma once
#include <sys/types.h>

#include <cstddef>

// Baud rate, data bits (5..8), stop bits (1 or 2), parity (0 none, 1 odd,
// 2 even), flow control (0 none, 1 RTS/CTS, 2 XON/XOFF).
struct SerialSettings {
    int baud;
    int dataBits;
    int stopBits;
    int parity;
    int flow;
};

constexpr SerialSettings kMcuSerial{115200, 8, 1, 0, 0};
constexpr SerialSettings kAtSerial{38400, 8, 1, 0, 0};

// Raw, non-blocking 8N1 port; negative on failure (diagnostics on stdout).
int serial_open(const char* path, int baud, int flow);
// 0, or -1 for a negative descriptor or no settings.
int serial_configure(int fd, const SerialSettings* settings);
// Writes in pieces of 64 bytes. Returns the count written (short after a
// partial piece), -1 for no buffer or a negative descriptor, 0 after an error.
ssize_t serial_write(int fd, const void* bytes, size_t length);
ssize_t serial_read(int fd, void* buffer, size_t length);
