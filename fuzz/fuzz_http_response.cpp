// The XML cache's HTTP download against a server that answers with arbitrary bytes: a loopback server in this
// process accepts each request and sends the input as the whole response, then closes. A well-formed 200
// response always downloads; a download's cached file holds exactly the bytes after the header's empty line,
// and a failed download leaves nothing in the cache.
#include "fuzz/FuzzCacheDirectory.h"
#include "fuzz/QuietRecords.h"
#include "remote/VNCxpXmlCacheInterface.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <string>

namespace {

// A listening socket on 127.0.0.1 with a port chosen by the system.
struct LoopbackListener {
    int socket = -1;
    uint16_t port = 0;

    LoopbackListener()
    {
        socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(socket, 4) != 0 || ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            std::perror("fuzz_http_response: loopback listener");
            std::abort();
        }
        port = ntohs(address.sin_port);
    }
};

LoopbackListener& listener()
{
    static LoopbackListener instance;
    return instance;
}

// Serves one connection: reads the request up to its empty line (bounded), sends `response`, closes.
void serve_one(const std::string& response)
{
    const int connection = ::accept4(listener().socket, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
        return;
    }
    timeval limit{2, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(connection, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    std::string request;
    char chunk[512];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 8192) {
        const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
        if (got <= 0) {
            break;
        }
        request.append(chunk, static_cast<size_t>(got));
    }
    for (size_t sent = 0; sent < response.size();) {
        const ssize_t put = ::send(connection, response.data() + sent, response.size() - sent, MSG_NOSIGNAL);
        if (put <= 0) {
            break;
        }
        sent += static_cast<size_t>(put);
    }
    ::close(connection);
}

// A plain success: "HTTP/1.0 200" or "HTTP/1.1 200", a reason of printable text, and the header's end.
bool plainly_200(const std::string& response)
{
    const size_t end = response.find("\r\n");
    if (end == std::string::npos || response.find("\r\n\r\n") == std::string::npos ||
        !(response.starts_with("HTTP/1.0 200 ") || response.starts_with("HTTP/1.1 200 "))) {
        return false;
    }
    if (!std::all_of(response.begin() + 13, response.begin() + static_cast<std::ptrdiff_t>(end),
                     [](unsigned char c) { return c >= 0x20 && c < 0x7F; })) {
        return false;
    }
    // A "Content-Length: <digits>" line must agree with the body: a shorter body is a cut connection.
    const size_t header_end = response.find("\r\n\r\n");
    const size_t body = response.size() - header_end - 4;
    for (size_t line = end + 2; line < header_end + 2;) {
        const size_t next = response.find("\r\n", line);
        std::string text = response.substr(line, next - line);
        std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
        if (text.starts_with("content-length:")) {
            const size_t first = text.find_first_not_of(" \t", 15);
            const size_t last = text.find_last_not_of(" \t");
            if (first != std::string::npos && last - first < 19 &&
                std::all_of(text.begin() + static_cast<std::ptrdiff_t>(first),
                            text.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                            [](unsigned char c) { return std::isdigit(c) != 0; }) &&
                std::stoull(text.substr(first, last - first + 1)) != body) {
                return false;
            }
        }
        line = next + 2;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    vngtl_fuzz::cache_directory();
    // The download echoes the response's header lines to standard output.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string response(reinterpret_cast<const char*>(data), size);
    vngtl_fuzz::empty_cache_directory();

    // The client connects before it sends, and the listener's backlog holds the connection until the
    // server thread accepts it.
    std::thread server([&] { serve_one(response); });
    vngtl::VNCxpXmlCacheInterface cache;
    vngtl::VNCxpXmlCacheInterface::UrlRecord record;
    const std::string url = "http://127.0.0.1:" + std::to_string(listener().port) + "/camera.xml";
    const bool downloaded = cache.downloadHttpFile(url, record);
    server.join();

    const auto file = vngtl_fuzz::cache_directory() / "camera.xml";
    if (plainly_200(response) && !downloaded) {
        std::abort();  // a well-formed success must download
    }
    if (!downloaded) {
        if (!vngtl_fuzz::cache_listing().empty()) {
            std::abort();  // a failed download leaves nothing behind
        }
        return 0;
    }
    const size_t header_end = response.find("\r\n\r\n");
    if (header_end == std::string::npos || record.url != file.string()) {
        std::abort();
    }
    std::ifstream in(file, std::ios::binary);
    const std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (body != response.substr(header_end + 4)) {
        std::abort();
    }
    return 0;
}
