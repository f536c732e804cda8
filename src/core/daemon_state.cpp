#include "core/daemon_state.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

DaemonState g_state;

namespace {
std::mutex g_atMutex;
char g_atResponse[kAtResponseSize + 1];
}  // namespace

// For tests (state_reset.h).
void daemon_state_reset() {
    g_state.mcuFd = -1;
    g_state.atFd = -1;
    g_state.mcuSpoke = 0;
    g_state.boardRevision = 1;
    g_state.imei[0] = '\0';
    g_state.modemFirmware[0] = '\0';
    at_response_clear();
}

void daemon_exit(int status) {
    std::fflush(stdout);
    std::_Exit(status);
}

void at_response_clear() {
    std::lock_guard<std::mutex> lock(g_atMutex);
    std::memset(g_atResponse, 0, sizeof g_atResponse);
}

void at_response_store(const char* bytes, size_t length) {
    std::lock_guard<std::mutex> lock(g_atMutex);
    if (length > kAtResponseSize) length = kAtResponseSize;
    std::memset(g_atResponse, 0, sizeof g_atResponse);
    std::memcpy(g_atResponse, bytes, length);
}

size_t at_response_copy(char* buffer, size_t size) {
    if (buffer == nullptr || size == 0) return 0;
    std::lock_guard<std::mutex> lock(g_atMutex);
    size_t length = strnlen(g_atResponse, kAtResponseSize);
    if (length >= size) length = size - 1;
    std::memcpy(buffer, g_atResponse, length);
    buffer[length] = '\0';
    return length;
}
