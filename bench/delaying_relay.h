#pragma once
// A TCP relay on loopback that holds every chunk for a fixed time in each
// direction, as a slow link would: a round trip through it costs twice the
// delay. Bounded: at most kMaxConnections connections, at most kMaxQueued
// bytes waiting per direction; stopping ends every connection.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DelayingRelay {
public:
    DelayingRelay(int targetPort, std::chrono::milliseconds delay) : targetPort_(targetPort), delay_(delay) {}
    ~DelayingRelay() { stop(); }
    DelayingRelay(const DelayingRelay&) = delete;
    DelayingRelay& operator=(const DelayingRelay&) = delete;

    // Listens on 127.0.0.1 on a free port; false when it cannot.
    bool start() {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = loopback(0);
        socklen_t length = sizeof address;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listener_, 16) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return false;
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] { accept_connections(); });
        return true;
    }
    // "127.0.0.1:<port>"
    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

    void stop() {
        if (stopping_.exchange(true)) return;
        if (listener_ >= 0) shutdown(listener_, SHUT_RDWR);
        if (acceptor_.joinable()) acceptor_.join();
        for (auto& connection : connections_) connection->end();
        for (auto& connection : connections_) connection->join();
        connections_.clear();
        if (listener_ >= 0) close(listener_);
    }

private:
    static constexpr size_t kMaxConnections = 64;
    static constexpr size_t kMaxQueued = 4 * 1024 * 1024;
    static constexpr size_t kChunk = 64 * 1024;
    using Clock = std::chrono::steady_clock;

    static sockaddr_in loopback(int port) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return address;
    }

    // One direction: a reader queues what arrives, a writer passes each chunk
    // on once it has waited its delay.
    struct Direction {
        Direction(int source, int sink, std::chrono::milliseconds wait) : from(source), to(sink), delay(wait) {}
        int from, to;
        std::chrono::milliseconds delay;
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::pair<Clock::time_point, std::string>> queued;
        size_t queuedBytes = 0;
        bool ended = false;
        std::thread reader, writer;

        void read_all() {
            std::string buffer(kChunk, '\0');
            for (;;) {
                ssize_t got = read(from, buffer.data(), buffer.size());
                std::unique_lock<std::mutex> lock(mutex);
                if (got > 0) changed.wait(lock, [this] { return queuedBytes < kMaxQueued || ended; });
                if (got <= 0 || ended) {
                    ended = true;
                    changed.notify_all();
                    return;
                }
                queued.emplace_back(Clock::now() + delay, buffer.substr(0, static_cast<size_t>(got)));
                queuedBytes += static_cast<size_t>(got);
                changed.notify_all();
            }
        }
        void write_all() {
            std::unique_lock<std::mutex> lock(mutex);
            for (;;) {
                changed.wait(lock, [this] { return !queued.empty() || ended; });
                if (queued.empty()) break;
                const Clock::time_point due = queued.front().first;
                changed.wait_until(lock, due, [this] { return ended && queued.empty(); });
                if (queued.empty()) break;
                std::string bytes = std::move(queued.front().second);
                queued.pop_front();
                queuedBytes -= bytes.size();
                changed.notify_all();
                lock.unlock();
                bool sent = send_all(bytes);
                lock.lock();
                if (!sent) break;
            }
            ended = true;
            changed.notify_all();
            shutdown(to, SHUT_WR);
            shutdown(from, SHUT_RD);
        }
        bool send_all(const std::string& bytes) {
            for (size_t done = 0; done < bytes.size();) {
                ssize_t n = send(to, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
                if (n <= 0) return false;
                done += static_cast<size_t>(n);
            }
            return true;
        }
        void run() {
            reader = std::thread([this] { read_all(); });
            writer = std::thread([this] { write_all(); });
        }
    };

    struct Connection {
        int client, server;
        Direction up, down;
        Connection(int c, int s, std::chrono::milliseconds delay)
            : client(c), server(s), up(c, s, delay), down(s, c, delay) {
            up.run();
            down.run();
        }
        void end() {
            shutdown(client, SHUT_RDWR);
            shutdown(server, SHUT_RDWR);
            for (Direction* d : {&up, &down}) {
                std::lock_guard<std::mutex> lock(d->mutex);
                d->ended = true;
                d->changed.notify_all();
            }
        }
        void join() {
            for (Direction* d : {&up, &down}) {
                d->reader.join();
                d->writer.join();
            }
            close(client);
            close(server);
        }
    };

    void accept_connections() {
        while (!stopping_) {
            int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) return;
            int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in target = loopback(targetPort_);
            if (connections_.size() >= kMaxConnections || server < 0 ||
                connect(server, reinterpret_cast<sockaddr*>(&target), sizeof target) != 0) {
                close(client);
                if (server >= 0) close(server);
                continue;
            }
            connections_.push_back(std::make_unique<Connection>(client, server, delay_));
        }
    }

    int targetPort_;
    std::chrono::milliseconds delay_;
    int listener_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    std::vector<std::unique_ptr<Connection>> connections_;  // touched by the acceptor until it is joined
};
