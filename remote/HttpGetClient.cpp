#include "remote/HttpGetClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <optional>

namespace vngtl {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

struct HttpGetClient::Connection {
    asio::io_context io;
    tcp::resolver resolver{io};
    tcp::socket socket{io};
    asio::streambuf received;

    // Runs the started operation until its handler has run or `timeout` has passed; on time-out the
    // socket and resolver are cancelled and the aborted handler drained, so nothing outlives the call.
    template <typename Done>
    std::error_code wait(Done& done, std::chrono::milliseconds timeout)
    {
        io.restart();
        io.run_for(timeout);
        if (done()) {
            return {};
        }
        resolver.cancel();
        boost::system::error_code ignored;
        socket.close(ignored);
        io.restart();
        io.run();
        return std::make_error_code(std::errc::timed_out);
    }
};

HttpGetClient::HttpGetClient(Clock::time_point deadline)
    : connection_(std::make_unique<Connection>()), deadline_(deadline)
{
}

HttpGetClient::~HttpGetClient() = default;

std::chrono::milliseconds HttpGetClient::next_timeout() const
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - std::chrono::steady_clock::now());
    return std::clamp(left, std::chrono::milliseconds{0}, operation_timeout);
}

std::error_code HttpGetClient::connect(const std::string& host_text)
{
    std::string host = host_text;
    std::string service = "http";
    if (const size_t colon = host.rfind(':'); colon != std::string::npos && host.find(']') == std::string::npos) {
        service = host.substr(colon + 1);
        host.resize(colon);
    }
    if (host.size() > 1 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    auto& c = *connection_;
    std::optional<boost::system::error_code> result;
    c.resolver.async_resolve(host, service, [&](const boost::system::error_code& error,
                                                const tcp::resolver::results_type& endpoints) {
        if (error) {
            result = error;
            return;
        }
        asio::async_connect(c.socket, endpoints,
                            [&](const boost::system::error_code& connect_error, const tcp::endpoint&) {
                                result = connect_error;
                            });
    });
    auto done = [&] { return result.has_value(); };
    if (auto timed_out = c.wait(done, next_timeout())) {
        return timed_out;
    }
    return *result;
}

std::error_code HttpGetClient::send(const std::string& text)
{
    auto& c = *connection_;
    std::optional<boost::system::error_code> result;
    asio::async_write(c.socket, asio::buffer(text),
                      [&](const boost::system::error_code& error, size_t) { result = error; });
    auto done = [&] { return result.has_value(); };
    if (auto timed_out = c.wait(done, next_timeout())) {
        return timed_out;
    }
    return *result;
}

std::error_code HttpGetClient::read_until(const std::string& delimiter, std::string& text)
{
    auto& c = *connection_;
    std::optional<boost::system::error_code> result;
    size_t length = 0;
    asio::async_read_until(c.socket, c.received, delimiter,
                           [&](const boost::system::error_code& error, size_t n) {
                               result = error;
                               length = n;
                           });
    auto done = [&] { return result.has_value(); };
    if (auto timed_out = c.wait(done, next_timeout())) {
        return timed_out;
    }
    if (*result) {
        return *result;
    }
    const auto* begin = static_cast<const char*>(c.received.data().data());
    text.assign(begin, length);
    c.received.consume(length);
    return {};
}

std::string HttpGetClient::take_pending()
{
    auto& c = *connection_;
    std::string pending(static_cast<const char*>(c.received.data().data()), c.received.size());
    c.received.consume(c.received.size());
    return pending;
}

std::error_code HttpGetClient::read_some(std::string& chunk, bool& end_of_stream)
{
    end_of_stream = false;
    auto& c = *connection_;
    std::optional<boost::system::error_code> result;
    char bytes[4096];
    size_t length = 0;
    asio::async_read(c.socket, asio::buffer(bytes), asio::transfer_at_least(1),
                     [&](const boost::system::error_code& error, size_t n) {
                         result = error;
                         length = n;
                     });
    auto done = [&] { return result.has_value(); };
    if (auto timed_out = c.wait(done, next_timeout())) {
        return timed_out;
    }
    chunk.assign(bytes, length);
    if (*result == asio::error::eof) {
        end_of_stream = true;
        return {};
    }
    return *result;
}

}  // namespace vngtl
