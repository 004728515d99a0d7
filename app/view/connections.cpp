#include "connections.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <thread>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>

#include "api_fields.h"

namespace app::view {
namespace {
namespace http = boost::beast::http;
using Clock = std::chrono::steady_clock;
using Parser = http::request_parser<http::string_body>;

// Bytes asked of the socket at a time.
constexpr size_t kChunk = 16 << 10;

// False when the deadline passed first; true when the socket is ready, shut or failed (the read or
// write then tells which).
bool Wait(int fd, short event, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, event, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 60000)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return true;
    }
}

enum class Got { Done, Closed, Late, LongLine, LongHeaders, LongBody, Malformed };

// Feeds the parser from the socket until its header (or the whole request) is in. The parser takes
// the request line only once it is whole, and each header line once it is whole, so the buffer
// starts with the request line until then: a line or headers past their limit are refused as soon as
// that many bytes have come, and no more than the headers' limit and one read is ever held.
Got Feed(int fd, boost::beast::flat_buffer& buffer, Parser& parser, Clock::time_point deadline,
         bool headerOnly, const ConnectionLimits& limits) {
    size_t headerBytes = 0; // taken by the parser before the header was whole
    for (;;) {
        while (buffer.size() > 0) {
            boost::beast::error_code ec;
            bool inHeader = !parser.is_header_done();
            size_t used = parser.put(buffer.data(), ec);
            buffer.consume(used);
            if (inHeader) headerBytes += used;
            if (ec == http::error::need_more) break;
            if (ec == http::error::header_limit) return Got::LongHeaders;
            if (ec == http::error::body_limit) return Got::LongBody;
            if (ec) return Got::Malformed;
            if (parser.is_done() || (headerOnly && parser.is_header_done())) return Got::Done;
            if (used == 0) break;
        }
        if (!parser.is_header_done()) {
            if (parser.get().target().empty()) {
                const char* bytes = static_cast<const char*>(buffer.data().data());
                size_t start = 0; // empty lines before a request are allowed
                while (start < buffer.size() && (bytes[start] == '\r' || bytes[start] == '\n'))
                    ++start;
                size_t look = std::min(buffer.size() - start, limits.requestLine + 2);
                if (look == limits.requestLine + 2 && !std::memchr(bytes + start, '\n', look))
                    return Got::LongLine;
            }
            if (headerBytes + buffer.size() > limits.headers) return Got::LongHeaders;
        }
        if (!Wait(fd, POLLIN, deadline)) return Got::Late;
        size_t room = std::min(kChunk, buffer.max_size() - buffer.size());
        auto space = buffer.prepare(room);
        ssize_t n = ::recv(fd, space.data(), space.size(), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Got::Closed;
        buffer.commit(static_cast<size_t>(n));
    }
}

int FromHex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Decode(std::string_view s, bool plusIsSpace) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && FromHex(s[i + 1]) >= 0 && FromHex(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(FromHex(s[i + 1]) * 16 + FromHex(s[i + 2])));
            i += 2;
        } else {
            out.push_back(plusIsSpace && s[i] == '+' ? ' ' : s[i]);
        }
    }
    return out;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

// Writes all of `parts`, each write taken within the limit.
bool SendAll(int fd, std::vector<iovec> parts, std::chrono::milliseconds limit) {
    size_t i = 0;
    while (i < parts.size()) {
        if (parts[i].iov_len == 0) {
            ++i;
            continue;
        }
        if (!Wait(fd, POLLOUT, Clock::now() + limit)) return false;
        msghdr m{};
        m.msg_iov = parts.data() + i;
        m.msg_iovlen = parts.size() - i;
        ssize_t n = ::sendmsg(fd, &m, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        for (size_t left = n < 0 ? 0 : static_cast<size_t>(n); left > 0 && i < parts.size();) {
            size_t take = std::min(left, parts[i].iov_len);
            parts[i].iov_base = static_cast<char*>(parts[i].iov_base) + take;
            parts[i].iov_len -= take;
            left -= take;
            if (parts[i].iov_len == 0) ++i;
        }
    }
    return true;
}

bool Send(int fd, const Response& out, bool head, bool close, std::chrono::milliseconds limit,
          const std::string& cookie = "") {
    std::string text =
        "HTTP/1.1 " + std::to_string(out.status) + " " +
        std::string(http::obsolete_reason(http::int_to_status(static_cast<unsigned>(out.status)))) +
        "\r\nContent-Type: " + out.type + "\r\nContent-Length: " + std::to_string(out.body.size()) + "\r\n";
    text += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nX-Frame-Options: DENY\r\n"
            "Referrer-Policy: no-referrer\r\n" // the address holds the token
            "Content-Security-Policy: default-src 'self'; style-src 'self'; script-src 'self'; "
            "frame-ancestors 'none'\r\n";
    if (!cookie.empty()) text += "Set-Cookie: " + cookie + "\r\n";
    if (close) text += "Connection: close\r\n";
    text += "\r\n";
    std::vector<iovec> parts = {{text.data(), text.size()}};
    if (!head) parts.push_back({const_cast<char*>(out.body.data()), out.body.size()});
    return SendAll(fd, std::move(parts), limit);
}

// After a refusal: the answer out, then what the client still sends read and dropped for a moment,
// so that closing with unread bytes does not reset the connection before the client has read why.
void CloseGently(int fd) {
    ::shutdown(fd, SHUT_WR);
    char sink[kChunk];
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(500);
    for (size_t dropped = 0; dropped < (1u << 20) && Wait(fd, POLLIN, end);) {
        ssize_t n = ::recv(fd, sink, sizeof sink, 0);
        if (n <= 0) break;
        dropped += static_cast<size_t>(n);
    }
}

// The request as the API takes it, from the parsed line and headers; the number of Host headers.
Request ToRequest(const Parser& parser, int& hosts, std::vector<std::string>& lengths,
                  std::vector<std::string>& encodings) {
    const auto& m = parser.get();
    Request r;
    r.method = std::string(m.method_string());
    std::string_view target(m.target().data(), m.target().size());
    size_t q = target.find('?');
    r.path = Decode(target.substr(0, q), false);
    if (q != std::string_view::npos) {
        std::string_view query = target.substr(q + 1);
        while (!query.empty()) {
            size_t amp = query.find('&');
            std::string_view pair = query.substr(0, amp);
            size_t eq = pair.find('=');
            if (!pair.empty())
                r.query.emplace(Decode(pair.substr(0, eq), true),
                                eq == std::string_view::npos ? "" : Decode(pair.substr(eq + 1), true));
            query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        }
    }
    hosts = 0;
    for (const auto& field : m) {
        std::string name = Lower(std::string_view(field.name_string().data(), field.name_string().size()));
        std::string value(field.value());
        if (name == "host") ++hosts;
        if (name == "content-length") lengths.push_back(value);
        if (name == "transfer-encoding") encodings.push_back(Lower(value));
        r.headers.emplace(std::move(name), std::move(value));
    }
    return r;
}
} // namespace

struct HttpServer::Connection {
    explicit Connection(int f) : fd(f) {}
    void Shut() const { ::shutdown(fd, SHUT_RDWR); }

    int fd;
    // from the first byte of a request until its answer is out
    std::atomic<bool> busy{false};
    enum class Pool { Pending, Page, Dropped } pool = Pool::Pending;
    std::list<Connection*>::iterator at;
};

HttpServer::HttpServer(ConnectionLimits limits, HttpHandlers handlers)
    : limits_(limits), handlers_(std::move(handlers)) {
    if (::pipe2(wake_, O_CLOEXEC) != 0) wake_[0] = wake_[1] = -1;
}

HttpServer::~HttpServer() {
    StopAll();
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return running_ == 0; });
    lock.unlock();
    for (int fd : {listen_, wake_[0], wake_[1]})
        if (fd >= 0) ::close(fd);
}

int HttpServer::Bind(int port) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_ < 0) return -1;
    // SO_REUSEADDR only: SO_REUSEPORT would let a second server on the port take half the requests
    int yes = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_, limits_.backlog) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        int err = errno;
        ::close(listen_);
        listen_ = -1;
        errno = err;
        return -1;
    }
    return ntohs(addr.sin_port);
}

void HttpServer::Run() {
    for (;;) {
        pollfd p[2] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        int r = ::poll(p, 2, -1);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) break;
        }
        if (r <= 0 || !(p[0].revents & POLLIN)) continue;
        int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0)
            Accept(fd);
        else if (errno == EMFILE || errno == ENFILE || errno == ENOMEM)
            std::this_thread::sleep_for(std::chrono::milliseconds(10)); // the next close makes room
    }
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [this] { return running_ == 0; });
}

void HttpServer::StopAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    for (Connection* c : pending_)
        c->Shut();
    for (Connection* c : page_)
        c->Shut();
    if (wake_[1] >= 0) { // wakes the accepting loop's poll
        ssize_t woke = ::write(wake_[1], "x", 1);
        static_cast<void>(woke);
    }
}

void HttpServer::Accept(int fd) {
    int one = 1; // an answer goes out in one or two writes: without this the second waits for an ACK
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto* c = new Connection(fd);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            ::close(fd);
            delete c;
            return;
        }
        // the oldest pending connection makes room: a flood of silent sockets cannot keep the page's
        // new connections out, since each of them is answered long before it is the oldest
        if (static_cast<int>(pending_.size()) >= limits_.pending) {
            // one that is not being answered and has nothing unread: a new connection of the page
            // has its request waiting even before its thread reads it
            auto drop = std::find_if(pending_.begin(), pending_.end(), [](Connection* p) {
                pollfd unread{p->fd, POLLIN, 0};
                return !p->busy && ::poll(&unread, 1, 0) == 0;
            });
            Connection* oldest = drop == pending_.end() ? pending_.front() : *drop;
            pending_.erase(oldest->at);
            oldest->pool = Connection::Pool::Dropped;
            oldest->Shut();
        }
        c->at = pending_.insert(pending_.end(), c);
        ++running_;
    }
    try {
        std::thread([this, c] {
            Serve(*c);
            Forget(*c);
        }).detach();
    } catch (const std::system_error&) {
        Forget(*c);
    }
}

void HttpServer::Forget(Connection& c) {
    ::shutdown(c.fd, SHUT_RDWR);
    std::lock_guard<std::mutex> lock(mutex_);
    if (c.pool == Connection::Pool::Pending) pending_.erase(c.at);
    if (c.pool == Connection::Pool::Page) page_.erase(&c);
    ::close(c.fd);
    delete &c;
    if (--running_ == 0) ended_.notify_all();
}

bool HttpServer::MoveToPage(Connection& c) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (c.pool == Connection::Pool::Page) return true;
    if (c.pool == Connection::Pool::Dropped || static_cast<int>(page_.size()) >= limits_.page) return false;
    pending_.erase(c.at);
    page_.insert(&c);
    c.pool = Connection::Pool::Page;
    return true;
}

void HttpServer::Serve(Connection& c) {
    boost::beast::flat_buffer buffer(limits_.headers + kChunk);
    auto refuse = [&](const Response& out) {
        Send(c.fd, out, false, true, limits_.write);
        CloseGently(c.fd);
    };
    for (int n = 1; n <= limits_.requestsPerConnection; ++n) {
        bool page = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            page = c.pool == Connection::Pool::Page;
        }
        if (buffer.size() == 0 &&
            !Wait(c.fd, POLLIN, Clock::now() + (page ? limits_.idle : limits_.pendingRequest)))
            return;
        c.busy = true;
        // one deadline for the whole request from its first byte: a client sending a byte at a time
        // does not earn more time with each
        Clock::time_point deadline = Clock::now() + (page ? limits_.request : limits_.pendingRequest);
        Parser parser;
        parser.header_limit(static_cast<uint32_t>(limits_.headers));
        parser.body_limit(std::numeric_limits<uint64_t>::max()); // a length over the limit is answered below
        switch (Feed(c.fd, buffer, parser, deadline, true, limits_)) {
        case Got::Done: break;
        case Got::Closed: return;
        case Got::Late: return refuse(Error(408, "the request did not arrive in time"));
        case Got::LongLine: return refuse(Error(414, "the request line is longer than 8 KiB"));
        case Got::LongHeaders: return refuse(Error(431, "the request's headers are larger than 64 KiB"));
        case Got::LongBody: // no body is read yet
        case Got::Malformed: return refuse(Error(400, "the request is malformed"));
        }
        int hosts = 0;
        std::vector<std::string> lengths, encodings;
        Request request = ToRequest(parser, hosts, lengths, encodings);
        std::optional<Response> refused;
        if (hosts != 1) refused = Error(400, "a request names exactly one Host");
        if (!refused) refused = CheckBodyFraming(request.method, lengths, encodings);
        if (!refused) refused = handlers_.admit(request);
        if (!refused && handlers_.fromPage(request) && !MoveToPage(c))
            refused = Error(503, "the page's connections are all open");
        bool body = !parser.is_done();
        if (!refused && body) {
            std::lock_guard<std::mutex> lock(mutex_);
            page = c.pool == Connection::Pool::Page;
        }
        if (!refused && body && !page) refused = Error(403, "a body is taken only from the page");
        if (!refused && parser.content_length() && *parser.content_length() > limits_.body)
            refused = Error(413, "the body is larger than 1 MiB");
        if (refused) return refuse(*refused);
        if (body) {
            auto expect = request.headers.find("expect");
            if (expect != request.headers.end() && Lower(expect->second) == "100-continue") {
                static const char goOn[] = "HTTP/1.1 100 Continue\r\n\r\n";
                if (!SendAll(c.fd, {{const_cast<char*>(goOn), sizeof goOn - 1}}, limits_.write)) return;
            }
            parser.body_limit(limits_.body);
            // trailers after a chunked body are read and dropped: the headers above are the request's
            switch (Feed(c.fd, buffer, parser, deadline, false, limits_)) {
            case Got::Done: break;
            case Got::Closed: return;
            case Got::Late: return refuse(Error(408, "the request did not arrive in time"));
            case Got::LongBody: return refuse(Error(413, "the body is larger than 1 MiB"));
            default: return refuse(Error(400, "the body ended early or its chunks are malformed"));
            }
            request.body = std::move(parser.get().body());
        }
        bool keepAlive = parser.get().keep_alive() && n < limits_.requestsPerConnection;
        Response out = handlers_.handle(request);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            keepAlive = keepAlive && !stopping_;
        }
        std::string cookie = out.status == 200 ? handlers_.cookie(request) : "";
        if (!Send(c.fd, out, request.method == "HEAD", !keepAlive, limits_.write, cookie) || !keepAlive)
            return;
        c.busy = false;
    }
}

} // namespace app::view
