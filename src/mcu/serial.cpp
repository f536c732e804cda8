#include "mcu/serial.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

struct BaudEntry {
    int rate;
    speed_t speed;
};

constexpr BaudEntry kBaudTable[] = {
    {300, B300},         {600, B600},         {1200, B1200},       {2400, B2400},
    {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
    {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},
    {921600, B921600},   {3000000, B3000000}, {4000000, B4000000},
};

constexpr size_t kWritePiece = 64;

void set_speed(termios& tio, int baud) {
    for (const auto& entry : kBaudTable) {
        if (entry.rate == baud) {
            cfsetispeed(&tio, entry.speed);
            cfsetospeed(&tio, entry.speed);
            return;
        }
    }
    std::printf("SERIAL: unsupported baudrate: %d\n", baud);
}

void set_flow(termios& tio, int flow) {
    switch (flow) {
        case 0:
            tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
            tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
            break;
        case 1:
            tio.c_cflag |= CRTSCTS;
            tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF);
            break;
        case 2:
            tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
            tio.c_iflag |= IXON | IXOFF;
            break;
        default:
            break;
    }
}

void set_raw(termios& tio) {
    tio.c_iflag &= ~static_cast<tcflag_t>(INLCR | ICRNL);
    tio.c_iflag |= IGNBRK;
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST | ONLCR | OCRNL);
    tio.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL |
                                          ECHOPRT | ECHOKE | IEXTEN);
}

void apply(int fd, const termios& tio) {
    tcsetattr(fd, TCSANOW, &tio);
    tcflush(fd, TCIOFLUSH);
}

}  // namespace

int serial_open(const char* path, int baud, int flow) {
    if (path == nullptr) return -1;
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) std::printf("open -%s %d, %s\n", path, baud, std::strerror(errno));
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return fd;
    set_speed(tio, baud);
    tio.c_cflag = (tio.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS8;
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB);
    set_flow(tio, flow);
    set_raw(tio);
    apply(fd, tio);
    return fd;
}

int serial_configure(int fd, const SerialSettings* settings) {
    if (fd < 0 || settings == nullptr) return -1;
    termios tio{};
    tcgetattr(fd, &tio);
    set_speed(tio, settings->baud);
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE);
    if (settings->dataBits >= 5 && settings->dataBits <= 8) tio.c_cflag |= kSizes[settings->dataBits - 5];
    if (settings->stopBits == 1) tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB);
    if (settings->stopBits == 2) tio.c_cflag |= CSTOPB;
    if (settings->parity == 0) tio.c_cflag &= ~static_cast<tcflag_t>(PARENB);
    if (settings->parity == 1) tio.c_cflag |= PARENB | PARODD;
    if (settings->parity == 2) {
        tio.c_cflag |= PARENB;
        tio.c_cflag &= ~static_cast<tcflag_t>(PARODD);
    }
    set_flow(tio, settings->flow);
    set_raw(tio);
    apply(fd, tio);
    return 0;
}

ssize_t serial_write(int fd, const void* bytes, size_t length) {
    if (bytes == nullptr || fd < 0) return -1;
    const auto* cursor = static_cast<const unsigned char*>(bytes);
    size_t total = 0;
    while (total < length) {
        size_t piece = length - total < kWritePiece ? length - total : kWritePiece;
        ssize_t written = write(fd, cursor + total, piece);
        if (written < 0) {
            std::printf("Cannot write on uart: %s", std::strerror(errno));
            return 0;
        }
        total += static_cast<size_t>(written);
        if (static_cast<size_t>(written) < piece) break;
    }
    return static_cast<ssize_t>(total);
}

ssize_t serial_read(int fd, void* buffer, size_t length) {
    if (buffer == nullptr || fd < 0) return -1;
    return read(fd, buffer, length);
}
