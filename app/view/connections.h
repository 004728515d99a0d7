// The connections of `vomark view`: a listening socket on 127.0.0.1, a thread for each connection (a
// slow client or a long poll holds no thread another request needs), requests parsed by Boost.Beast's
// parser within fixed limits, so that no client makes the server hold more than a request's worth of
// memory, however it sends it.
//
// Two pools. A new connection is pending until a request on it shows that it comes from the page (the
// token, or the page's session cookie): pending connections are few, with short deadlines, and when
// they are all taken the oldest is dropped for the newcomer. Connections that have shown it move to
// slots of their own that no flood of pending ones can take.
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "api.h"

namespace app::view {

struct ConnectionLimits {
    // Connections that have shown the token or the session cookie; one more is answered 503.
    int page = 64;
    // Connections that have not (yet); a new one beyond this drops the oldest.
    int pending = 32;
    // A pending connection's request must be whole this long after its first byte, and it waits this
    // long for its next one.
    std::chrono::milliseconds pendingRequest{2000};
    // The same for the page's connections.
    std::chrono::milliseconds request{5000};
    std::chrono::milliseconds idle{5000};
    // A response must be taken this fast (each write).
    std::chrono::milliseconds write{5000};
    // Requests answered on one connection before it is closed.
    int requestsPerConnection = 1000;
    // Pending connections the kernel holds before accepting them.
    int backlog = 512;
    // The request line; the line and headers together; the body.
    size_t requestLine = 8 << 10;
    size_t headers = 64 << 10;
    size_t body = 1 << 20;
};

// What the server asks of its owner.
struct HttpHandlers {
    // Once the line and headers are in, before a byte of the body is read: a refusal, or nothing.
    std::function<std::optional<Response>(const Request&)> admit;
    // The request shows that it comes from the page: its connection moves to the page's slots.
    std::function<bool(const Request&)> fromPage;
    // The whole request; may wait (a long poll).
    std::function<Response(const Request&)> handle;
    // A Set-Cookie value for a 200 answer to the request, or "".
    std::function<std::string(const Request&)> cookie;
};

class HttpServer {
  public:
    HttpServer(ConnectionLimits limits, HttpHandlers handlers);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Binds 127.0.0.1 (port 0: a free one); the port, or -1 with errno set.
    int Bind(int port);
    // Accepts until StopAll; returns when every connection has ended.
    void Run();
    // Ends every connection at once (their sockets shut, so that waits return) and the accepting.
    void StopAll();

    struct Connection;

  private:
    void Accept(int fd);
    void Serve(Connection& c);
    bool MoveToPage(Connection& c);
    void Forget(Connection& c);

    ConnectionLimits limits_;
    HttpHandlers handlers_;
    int listen_ = -1;
    int wake_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable ended_;
    std::list<Connection*> pending_; // oldest first
    std::set<Connection*> page_;
    int running_ = 0;
    bool stopping_ = false;
};

} // namespace app::view
