#pragma once
#include <cstddef>
#include <cstdint>

// Opens /dev/smd9 and starts the AT reader thread uart_smd_rcv.
void at_port_start();
// Opens /dev/ttyHS0, starts the MCU reader thread uart_rcv and says "RDY\r\n".
void mcu_port_start();

// Send helpers, callable from any thread; each does nothing while its port is closed.
void mcu_send(const char* text);
void mcu_send_bytes(const void* bytes, size_t length);
void mcu_send_ack();  // keep-alive byte 0x06
void mcu_send_eot();  // end of an answer, byte 0x04
// Clears the AT answer buffer, then sends the command (which carries its own "\r").
void at_send(const char* command);

// While long work runs (a sync, with its requests and downloads) the MCU must
// hear from us at least every few seconds or it takes us for hung; outside
// such work it hears nothing but its answers. The work holds a McuBusy while it runs.
class McuBusy {
public:
    McuBusy();
    ~McuBusy();
    McuBusy(const McuBusy&) = delete;
    McuBusy& operator=(const McuBusy&) = delete;
};
// Called from every wait: sends the keep-alive byte while long work runs and
// the MCU has heard nothing for a second.
void mcu_keep_alive();
// Sleeps, calling mcu_keep_alive() every second.
void sleep_keeping_alive(uint64_t microseconds);

constexpr char kMcuAck = 0x06;
constexpr char kMcuEot = 0x04;
