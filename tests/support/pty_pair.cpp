#include "tests/support/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "sim/sim_files.h"

PtyPair::PtyPair() {
    std::string name;
    master_ = sim_open_pty(slave_, name, O_NONBLOCK);
}

PtyPair::~PtyPair() {
    close(slave_);
    close(master_);
}

std::string PtyPair::drain() const {
    std::string out;
    pollfd p{master_, POLLIN, 0};
    while (poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
        char buffer[4096];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return out;
}
