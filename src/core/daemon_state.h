#pragma once
#include <pthread.h>

#include <atomic>
#include <cstddef>
#include <mutex>

// The process-wide runtime record shared by all threads.
struct DaemonState {
    std::atomic<int> mcuFd{-1};
    std::atomic<int> atFd{-1};
    std::atomic<int> mcuSpoke{0};
    pthread_t mcuReader{};
    pthread_t atReader{};
    pthread_t cellularThread{};
    std::mutex logMutex;
    // Board revision read at start-up from the REV lines; 1 until then.
    std::atomic<int> boardRevision{1};
    char imei[33]{};
    char modemFirmware[257]{};
};

extern DaemonState g_state;

// Ends the daemon from any thread. Static objects are not destroyed: the other
// threads keep running until the process is gone and still use them.
[[noreturn]] void daemon_exit(int status);

// The last chunk read from the AT port. Written by the AT reader and cleared by
// at_send while other threads poll it, so it is only copied in and out under a lock.
constexpr size_t kAtResponseSize = 1024;
void at_response_clear();
void at_response_store(const char* bytes, size_t length);
// Copies the text into buffer (always terminated) and returns its length.
size_t at_response_copy(char* buffer, size_t size);
