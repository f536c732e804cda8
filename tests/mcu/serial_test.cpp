#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "daemon_state.h"
#include "pty_pair.h"
#include "serial.h"
#include "test_root.h"
#include "uart.h"

namespace {
std::mutex g_writesMutex;
std::vector<size_t> g_writes;
int g_watchedFd = -1;
}  // namespace

// Linked with --wrap=write: records the size of every write to the watched descriptor.
extern "C" ssize_t __real_write(int fd, const void* bytes, size_t length);
extern "C" ssize_t __wrap_write(int fd, const void* bytes, size_t length) {
    if (fd == g_watchedFd) {
        std::lock_guard<std::mutex> lock(g_writesMutex);
        g_writes.push_back(length);
    }
    return __real_write(fd, bytes, length);
}

namespace {

std::vector<size_t> watch(int fd) {
    std::lock_guard<std::mutex> lock(g_writesMutex);
    auto seen = g_writes;
    g_writes.clear();
    g_watchedFd = fd;
    return seen;
}

TEST(Serial, WritesInPiecesOf64Bytes) {
    PtyPair pty;
    watch(pty.daemon_side());
    std::string text(150, 'x');
    EXPECT_EQ(serial_write(pty.daemon_side(), text.data(), text.size()), 150);
    EXPECT_EQ(watch(-1), (std::vector<size_t>{64, 64, 22}));
    EXPECT_EQ(pty.drain(), text);
}

TEST(Serial, ArgumentAndErrorResults) {
    PtyPair pty;
    EXPECT_EQ(serial_write(pty.daemon_side(), "x", 0), 0);
    EXPECT_EQ(serial_write(-1, "x", 1), -1);
    EXPECT_EQ(serial_write(pty.daemon_side(), nullptr, 1), -1);
    int readOnly = open("/dev/null", O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(serial_write(readOnly, "abc", 3), 0);
    close(readOnly);
    char buffer[4];
    EXPECT_EQ(serial_read(-1, buffer, sizeof buffer), -1);
    EXPECT_EQ(serial_read(pty.daemon_side(), nullptr, 4), -1);
    EXPECT_EQ(serial_configure(-1, &kMcuSerial), -1);
    EXPECT_EQ(serial_configure(pty.daemon_side(), nullptr), -1);
    EXPECT_EQ(serial_open(nullptr, 115200, 0), -1);
    EXPECT_LT(serial_open("/nonexistent/tty", 115200, 0), 0);
}

TEST(Serial, ShortCountWhenThePortIsFull) {
    PtyPair pty;
    std::string block(4096, 'y');
    ssize_t total = 0, written;
    // Nobody reads the peer side: the non-blocking port fills up.
    while ((written = serial_write(pty.daemon_side(), block.data(), block.size())) ==
           static_cast<ssize_t>(block.size()))
        total += written;
    EXPECT_GE(written, 0);
    EXPECT_LT(written, static_cast<ssize_t>(block.size()));
    EXPECT_EQ(serial_write(pty.daemon_side(), block.data(), 64) % 64, 0);
}

TEST(Serial, OpenConfiguresARawPort) {
    PtyPair pty;
    char name[128];
    ASSERT_EQ(ttyname_r(pty.daemon_side(), name, sizeof name), 0);
    int fd = serial_open(name, 38400, 0);
    ASSERT_GE(fd, 0);
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B38400));
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    // A pseudo-terminal keeps its character size and parity; the speed shows the settings applied.
    EXPECT_EQ(serial_configure(fd, &kMcuSerial), 0);
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    close(fd);
}

TEST(Serial, SendHelpersSkipAClosedPortAndAtSendClearsTheAnswer) {
    TestRoot root;
    at_response_store("stale", 5);
    at_send("AT\r");
    char answer[16];
    EXPECT_EQ(at_response_copy(answer, sizeof answer), 0u);
    mcu_send("RDY\r\n");
    mcu_send_eot();

    PtyPair pty;
    g_state.mcuFd = pty.daemon_side();
    mcu_send("RDY\r\n");
    mcu_send_ack();
    mcu_send_eot();
    EXPECT_EQ(pty.drain(), std::string("RDY\r\n\x06\x04"));
    g_state.mcuFd = -1;
}

}  // namespace
