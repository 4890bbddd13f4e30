// The socket side of an HTTP/1.0 download: connect, send the request, read up to a delimiter, read the rest
// until the server closes. Every operation is bounded in time, so a host that does not answer, answers
// slowly or stops half-way costs at most a few seconds:
//   - each operation (resolving and connecting together, each write, each read) gets at most
//     `operation_timeout` (2 s);
//   - one download as a whole gets at most `download_budget` (5 s), however the server trickles its bytes,
//     and the downloads of one walk through a camera's manifest share one such budget (the caller passes
//     its deadline), so a camera listing several dead hosts still costs at most 5 s in all.
// A numeric host ("127.0.0.1") is not resolved at all; for a host name the system resolver runs on Asio's
// resolver thread and its answer is waited for within the same bounds.
//
// The protocol (request text, status line, headers) belongs to the XML cache; errors come back as the
// system's error text, so the cache can quote them in its records.
//
// Thread safety: one client serves one download on one thread.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <system_error>

namespace vngtl {

class HttpGetClient {
public:
    static constexpr std::chrono::milliseconds operation_timeout{2000};
    static constexpr std::chrono::milliseconds download_budget{5000};

    using Clock = std::chrono::steady_clock;
    // Every operation ends by `deadline` at the latest.
    explicit HttpGetClient(Clock::time_point deadline = Clock::now() + download_budget);
    ~HttpGetClient();
    HttpGetClient(const HttpGetClient&) = delete;
    HttpGetClient& operator=(const HttpGetClient&) = delete;

    // Resolves `host` (an optional ":port" follows it; the service is "http" otherwise) and connects to the
    // resolved endpoints in turn until one accepts.
    std::error_code connect(const std::string& host);
    std::error_code send(const std::string& text);
    // Reads until the received bytes contain `delimiter`; `text` is everything up to and including it, and
    // bytes received beyond it stay for the next read.
    std::error_code read_until(const std::string& delimiter, std::string& text);
    // The bytes received beyond the last delimiter, handed over once.
    std::string take_pending();
    // Reads at least one more byte into `chunk`, or sets `end_of_stream` when the server has closed the
    // connection in order (bytes received before the close are still in `chunk`).
    std::error_code read_some(std::string& chunk, bool& end_of_stream);

private:
    struct Connection;
    std::chrono::milliseconds next_timeout() const;

    std::unique_ptr<Connection> connection_;
    std::chrono::steady_clock::time_point deadline_;
};

}  // namespace vngtl
