#include <gtest/gtest.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include "core/daemon_state.h"
#include "tests/support/pty_pair.h"
#include "mcu/serial.h"
#include "tests/support/test_root.h"
#include "mcu/uart.h"

// Linked with --wrap=write: the watched descriptor's writes are recorded and
// can be made to accept only so many bytes, or to fail.
namespace {
std::vector<size_t> g_writes;
int g_watchedFd = -1;
size_t g_accept = SIZE_MAX;  // bytes the port still takes
bool g_fail = false;
}  // namespace

extern "C" ssize_t __real_write(int fd, const void* bytes, size_t length);
extern "C" ssize_t __wrap_write(int fd, const void* bytes, size_t length) {
    if (fd != g_watchedFd) return __real_write(fd, bytes, length);
    g_writes.push_back(length);
    if (g_fail) {
        errno = EIO;
        return -1;
    }
    const size_t taken = length < g_accept ? length : g_accept;
    g_accept -= taken;
    return __real_write(fd, bytes, taken);
}

namespace {

struct WriteCase {
    size_t length;
    size_t accepted;  // by the port
    bool fails;
    ssize_t result;
    std::vector<size_t> pieces;
};

TEST(Serial, WritesInPiecesOf64AndStopsAtAShortOrFailedPiece) {
    PtyPair pty;
    const WriteCase cases[] = {
        {150, SIZE_MAX, false, 150, {64, 64, 22}},
        {150, 100, false, 100, {64, 64}},
        {150, 64, false, 64, {64, 64}},
        {150, 0, true, 0, {64}},
        {0, SIZE_MAX, false, 0, {}},
    };
    for (const WriteCase& c : cases) {
        g_writes.clear();
        g_watchedFd = pty.daemon_side();
        g_accept = c.accepted;
        g_fail = c.fails;
        const std::string text(c.length, 'x');
        EXPECT_EQ(serial_write(pty.daemon_side(), text.data(), text.size()), c.result) << c.length;
        EXPECT_EQ(g_writes, c.pieces) << c.length << " " << c.accepted;
        g_watchedFd = -1;
        EXPECT_EQ(pty.drain().size(), static_cast<size_t>(c.result));
    }
    EXPECT_EQ(serial_write(-1, "x", 1), -1);
    EXPECT_EQ(serial_write(pty.daemon_side(), nullptr, 1), -1);
    EXPECT_EQ(serial_configure(-1, &kMcuSerial), -1);
}

TEST(Serial, OpenConfiguresARawPort) {
    PtyPair pty;
    char name[128];
    ASSERT_EQ(ttyname_r(pty.daemon_side(), name, sizeof name), 0);
    // Cooked and at another speed first, as a port fresh from boot may be.
    termios tio{};
    ASSERT_EQ(tcgetattr(pty.daemon_side(), &tio), 0);
    tio.c_lflag |= ICANON | ECHO | ISIG;
    tio.c_oflag |= OPOST;
    cfsetospeed(&tio, B9600);
    ASSERT_EQ(tcsetattr(pty.daemon_side(), TCSANOW, &tio), 0);
    int fd = serial_open(name, 38400, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B38400));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    // A pseudo-terminal keeps its character size and parity; the speed shows the settings applied.
    EXPECT_EQ(serial_configure(fd, &kMcuSerial), 0);
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B115200));
    close(fd);
}

void on_signal(int) {}

// A signal that lands while the reader waits in select() only restarts the wait.
TEST(Serial, ReaderOutlastsSignals) {
    TestRoot root;
    PtyPair mcu;
    char name[128];
    ASSERT_EQ(ttyname_r(mcu.daemon_side(), name, sizeof name), 0);
    ASSERT_EQ(mkdir(root.path("/dev").c_str(), 0755), 0);
    ASSERT_EQ(symlink(name, root.path("/dev/ttyHS0").c_str()), 0);
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigaction(SIGUSR1, &action, nullptr);
    mcu_port_start();
    EXPECT_EQ(mcu.drain(), "RDY\r\n");
    for (int i = 0; i < 5; ++i) {
        pthread_kill(g_state.mcuReader, SIGUSR1);
        usleep(20000);
    }
    ASSERT_EQ(write(mcu.peer_side(), "qz+state\r", 9), 9);
    std::string answer;
    for (int tries = 0; tries < 40 && answer.find('\x04') == std::string::npos; ++tries)
        answer += mcu.drain();
    EXPECT_EQ(answer, "1\x04");
    g_state.mcuFd = -1;
}

}  // namespace
