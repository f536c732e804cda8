#include "mcu/uart.h"

#include <sys/select.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/daemon_state.h"
#include "core/device_root.h"
#include "core/event_log.h"
#include "mcu/mcu_protocol.h"
#include "mcu/serial.h"
#include "core/time_seam.h"

namespace {

constexpr size_t kChunkSize = 1024;
constexpr uint64_t kKeepAliveGapUs = 1000000;
constexpr uint64_t kKeepAliveStepUs = 1000000;

std::atomic<int> g_busy{0};
std::atomic<uint64_t> g_lastByteUs{0};

// Waits until fd is readable, giving up after 3 seconds of silence; a signal
// only cuts the wait short. Returns false on a select() failure.
bool wait_readable(int fd, bool& readable) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval timeout{3, 0};
    int ready = select(fd + 1, &set, nullptr, nullptr, &timeout);
    if (ready < 0 && errno != EINTR) return false;
    readable = ready > 0;
    return true;
}

// Both readers: read the descriptor anew on every pass, end when it is
// negative, hand every chunk (always terminated) to `handle`.
template <typename Handler>
void* reader_loop(const std::atomic<int>& descriptor, Handler handle) {
    char chunk[kChunkSize + 1];
    for (;;) {
        int fd = descriptor.load();
        if (fd < 0) return reinterpret_cast<void*>(1);
        bool readable = false;
        if (!wait_readable(fd, readable)) {
            std::printf("< failed to select >");
            daemon_exit(-1);
        }
        if (!readable) continue;
        ssize_t count;
        do {
            std::memset(chunk, 0, sizeof chunk);
            count = serial_read(fd, chunk, kChunkSize);
            if (count > 0) handle(chunk, static_cast<size_t>(count));
        } while (count == static_cast<ssize_t>(kChunkSize));
        // A hung-up peer keeps the port readable with nothing to read: do not spin.
        if (count <= 0) sleep_milliseconds(100);
    }
}

void* uart_smd_rcv(void*) {
    return reader_loop(g_state.atFd, [](const char* chunk, size_t length) {
        at_response_store(chunk, length);
    });
}

void* uart_rcv(void*) {
    return reader_loop(g_state.mcuFd, [](const char* chunk, size_t) { mcu_handle_chunk(chunk); });
}

bool start_reader(pthread_t& handle, void* (*body)(void*)) {
    if (pthread_create(&handle, nullptr, body, nullptr) != 0) return false;
    pthread_detach(handle);
    return true;
}

}  // namespace

void at_port_start() {
    const std::string path = device_path("/dev/smd9");
    int fd = serial_open(path.c_str(), kAtSerial.baud, 0);
    g_state.atFd = fd;
    serial_configure(fd, &kAtSerial);
    if (!start_reader(g_state.atReader, uart_smd_rcv))
        log_event("uart", 2, "Fail to create uart_smd_rcv");
}

void mcu_port_start() {
    g_state.mcuSpoke = 0;
    const std::string path = device_path("/dev/ttyHS0");
    int fd = serial_open(path.c_str(), kMcuSerial.baud, 0);
    g_state.mcuFd = fd;
    serial_configure(fd, &kMcuSerial);
    if (!start_reader(g_state.mcuReader, uart_rcv)) log_event("uart", 2, "Fail to create uart_rcv");
    serial_write(fd, "RDY\r\n", 5);
}

void mcu_send_bytes(const void* bytes, size_t length) {
    int fd = g_state.mcuFd.load();
    if (fd < 0) return;
    serial_write(fd, bytes, length);
    g_lastByteUs = monotonic_us();
}

void mcu_send(const char* text) { mcu_send_bytes(text, std::strlen(text)); }

void mcu_send_ack() { mcu_send_bytes(&kMcuAck, 1); }
void mcu_send_eot() { mcu_send_bytes(&kMcuEot, 1); }

McuBusy::McuBusy() { ++g_busy; }
McuBusy::~McuBusy() { --g_busy; }

void mcu_keep_alive() {
    if (g_busy.load() == 0) return;
    const uint64_t now = monotonic_us();
    const uint64_t last = g_lastByteUs.load();
    if (now >= last && now - last >= kKeepAliveGapUs) mcu_send_ack();
}

void sleep_keeping_alive(uint64_t microseconds) {
    while (microseconds > 0) {
        const uint64_t step = std::min(microseconds, kKeepAliveStepUs);
        sleep_microseconds(step);
        microseconds -= step;
        mcu_keep_alive();
    }
}

void at_send(const char* command) {
    at_response_clear();
    int fd = g_state.atFd.load();
    if (fd >= 0) serial_write(fd, command, std::strlen(command));
}
