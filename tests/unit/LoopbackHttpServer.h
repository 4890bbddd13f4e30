// A small HTTP server for the download tests: it listens on 127.0.0.1 only (a port the system picks), serves
// a fixed answer per request path, serves at most `max_requests` connections and stops by itself after
// `lifetime`, whatever the client does. Every socket wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <string>
#include <thread>

class LoopbackHttpServer {
public:
    enum class Mode {
        answer,     // send the bytes, then close
        reset,      // send the bytes, wait a little, then abort the connection (a reset, not an orderly close)
        silent,     // read the request and never answer
    };
    struct Route {
        std::string bytes;
        Mode mode = Mode::answer;
    };

    explicit LoopbackHttpServer(std::map<std::string, Route> routes, int max_requests = 16,
                                std::chrono::seconds lifetime = std::chrono::seconds(30))
        : routes_(std::move(routes)), max_requests_(max_requests), lifetime_(lifetime)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
    }
    ~LoopbackHttpServer()
    {
        thread_.request_stop();
        thread_.join();
        ::close(listener_);
    }

    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }
    int requests() const { return requests_.load(); }
    std::string last_request() const
    {
        std::lock_guard lock(mutex_);
        return last_request_;
    }

private:
    void serve(std::stop_token stop)
    {
        const auto end = std::chrono::steady_clock::now() + lifetime_;
        while (!stop.stop_requested() && std::chrono::steady_clock::now() < end && requests_ < max_requests_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                continue;
            }
            ++requests_;
            handle(client, stop);
        }
    }

    // Waits up to `milliseconds` (in short steps, so a stop request is seen) for the client to send or close.
    static bool readable(int socket, int milliseconds, const std::stop_token& stop)
    {
        for (int waited = 0; waited < milliseconds && !stop.stop_requested(); waited += 50) {
            pollfd waiting{socket, POLLIN, 0};
            if (::poll(&waiting, 1, 50) > 0) {
                return true;
            }
        }
        return false;
    }

    void handle(int client, const std::stop_token& stop)
    {
        std::string request;
        char bytes[1024];
        while (request.find("\r\n\r\n") == std::string::npos && readable(client, 2000, stop)) {
            const ssize_t got = ::recv(client, bytes, sizeof bytes, 0);
            if (got <= 0) {
                break;
            }
            request.append(bytes, static_cast<size_t>(got));
        }
        {
            std::lock_guard lock(mutex_);
            last_request_ = request;
        }
        const size_t start = request.find(' ') + 1;
        const std::string path = request.substr(start, request.find(' ', start) - start);
        const auto route = routes_.find(path);
        if (route == routes_.end()) {
            send_all(client, "HTTP/1.0 404 Not Found\r\n\r\n");
        } else if (route->second.mode == Mode::silent) {
            // Hold the connection until the client gives up (or the test ends).
            while (readable(client, 5000, stop) && ::recv(client, bytes, sizeof bytes, 0) > 0) {
            }
        } else {
            send_all(client, route->second.bytes);
            if (route->second.mode == Mode::reset) {
                // The pause is the point: the client reads the part sent before the connection breaks.
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                linger abort{1, 0};
                ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            }
        }
        ::close(client);
    }

    static void send_all(int socket, const std::string& bytes)
    {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;
            }
            sent += static_cast<size_t>(n);
        }
    }

    std::map<std::string, Route> routes_;
    int max_requests_;
    std::chrono::seconds lifetime_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;  // guards last_request_
    std::string last_request_;
    std::jthread thread_;
};
