// The connections of `vomark view`. The library parses requests and routes them; this layer owns the
// sockets: each connection runs on a thread of its own, so a slow or silent client, or a long poll,
// holds no thread another request needs; every read has a deadline; requests sent back to back on
// one connection (pipelining) are answered in order from one buffer; a stop ends every connection at
// once, whatever its client does.
#pragma once
#include <chrono>
#include <mutex>
#include <set>

#include <httplib.h>

namespace app::view {

struct ConnectionLimits {
    // More open connections than this are answered 503 and closed.
    int connections = 256;
    // A request (its line, headers and body) must have arrived this long after its first byte.
    std::chrono::milliseconds request{5000};
    // An open connection waits this long for its next request.
    std::chrono::milliseconds idle{5000};
    // A response must be taken this fast (each write).
    std::chrono::milliseconds write{5000};
    // Requests answered on one connection before it is closed.
    int requestsPerConnection = 1000;
    // Pending connections the kernel holds before accepting them.
    int backlog = 512;
};

class GuardedServer : public httplib::Server {
  public:
    explicit GuardedServer(ConnectionLimits limits = {});
    ~GuardedServer() override;

    // After a bind: the listen backlog of the limits instead of the library's own.
    void WidenBacklog();
    // Ends every connection (their sockets shut, so waits return), then stops listening; returns
    // when every connection thread has ended.
    void StopAll();
    // From a handler: the connection it serves is closed after this response (a body left unread).
    static void CloseAfterResponse();

    class Connection;

  private:
    bool process_and_close_socket(socket_t sock) override;
    void Serve(Connection& c);

    ConnectionLimits limits_;
    std::mutex mutex_;
    std::set<Connection*> open_;
    bool stopping_ = false;
};

} // namespace app::view
