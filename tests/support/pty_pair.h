#pragma once
#include <string>

// A raw pseudo-terminal pair: the daemon side (slave) and the peer (master).
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int daemon_side() const { return slave_; }
    int peer_side() const { return master_; }
    // Everything the daemon side wrote so far (waits briefly for it to arrive).
    std::string drain() const;

private:
    int master_ = -1;
    int slave_ = -1;
};
