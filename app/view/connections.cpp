#include "connections.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <thread>

namespace app::view {
namespace {
using Clock = std::chrono::steady_clock;

// A thread for each connection: the library's pool has a few threads that a slow client can all hold.
class ThreadPerConnection : public httplib::TaskQueue {
  public:
    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++running_;
        }
        std::thread([this, fn = std::move(fn)] {
            fn();
            std::lock_guard<std::mutex> lock(mutex_);
            if (--running_ == 0) ended_.notify_all();
        }).detach();
    }
    // Waits for every connection thread to end.
    void shutdown() override {
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [this] { return running_ == 0; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable ended_;
    int running_ = 0;
};

void Address(int fd, bool peer, std::string& ip, int& port) {
    sockaddr_storage a{};
    socklen_t n = sizeof a;
    int r = peer ? getpeername(fd, reinterpret_cast<sockaddr*>(&a), &n)
                 : getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    if (r != 0 || a.ss_family != AF_INET) return;
    const auto* in = reinterpret_cast<const sockaddr_in*>(&a);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(in->sin_port);
}

thread_local GuardedServer::Connection* current = nullptr;
} // namespace

// One accepted socket: reads through a buffer that outlives a request, so that the next request sent
// in the same packet is still there, and waits no longer than its deadlines.
class GuardedServer::Connection : public httplib::Stream {
  public:
    Connection(int fd, const ConnectionLimits& limits) : fd_(fd), limits_(limits) {}

    bool is_readable() const override { return begin_ < end_ || Wait(POLLIN, readDeadline_); }
    bool is_writable() const override { return Wait(POLLOUT, Clock::now() + limits_.write); }
    ssize_t read(char* ptr, size_t size) override {
        if (begin_ == end_) {
            if (!Wait(POLLIN, readDeadline_)) return -1;
            ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        size_t n = std::min(size, end_ - begin_);
        std::copy(buffer_ + begin_, buffer_ + begin_ + n, ptr);
        begin_ += n;
        return static_cast<ssize_t>(n);
    }
    ssize_t write(const char* ptr, size_t size) override {
        if (!is_writable()) return -1;
        return ::send(fd_, ptr, size, MSG_NOSIGNAL);
    }
    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(fd_, true, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(fd_, false, ip, port); }
    socket_t socket() const override { return fd_; }

    // Waits up to the idle time for the next request; from then on its reads have the request's
    // deadline. False when none came, or the client closed.
    bool NextRequest() {
        if (begin_ == end_ && !Wait(POLLIN, Clock::now() + limits_.idle)) return false;
        readDeadline_ = Clock::now() + limits_.request;
        return true;
    }
    // Wakes whatever waits on the socket: reads then see the end.
    void Shut() { ::shutdown(fd_, SHUT_RDWR); }

    bool closeAfter = false;

  private:
    bool Wait(short event, Clock::time_point deadline) const {
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return false;
            pollfd p{fd_, event, 0};
            int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), 1000)));
            if (r > 0) return true; // readable, writable, or shut: the read or write tells which
            if (r < 0 && errno != EINTR) return false;
        }
    }

    int fd_;
    const ConnectionLimits& limits_;
    char buffer_[4096];
    size_t begin_ = 0, end_ = 0;
    Clock::time_point readDeadline_ = Clock::now();
};

GuardedServer::GuardedServer(ConnectionLimits limits) : limits_(limits) {
    new_task_queue = [] { return new ThreadPerConnection; };
}

GuardedServer::~GuardedServer() { StopAll(); }

void GuardedServer::WidenBacklog() {
    socket_t sock = svr_sock_;
    if (sock != INVALID_SOCKET) ::listen(sock, limits_.backlog); // a second listen sets the backlog
}

void GuardedServer::CloseAfterResponse() {
    if (current) current->closeAfter = true;
}

void GuardedServer::StopAll() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (Connection* c : open_)
            c->Shut();
    }
    stop();
    // stop() returns before the listening thread has waited for the connections: the owner joins it
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    int one = 1; // headers and body go out in two writes: without this the body waits for an ACK
    setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    {
        Connection c(sock, limits_);
        bool admitted = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            admitted = !stopping_ && static_cast<int>(open_.size()) < limits_.connections;
            if (admitted) open_.insert(&c);
        }
        if (admitted) {
            Serve(c);
            std::lock_guard<std::mutex> lock(mutex_);
            open_.erase(&c);
        } else {
            static const char busy[] = "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n"
                                       "Content-Length: 0\r\n\r\n";
            ::send(sock, busy, sizeof busy - 1, MSG_NOSIGNAL);
        }
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return true;
}

void GuardedServer::Serve(Connection& c) {
    current = &c;
    for (int n = 1; n <= limits_.requestsPerConnection && c.NextRequest(); ++n) {
        bool closed = false;
        bool last = n == limits_.requestsPerConnection;
        if (!process_request(c, last, closed, nullptr) || closed || c.closeAfter) break;
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) break;
    }
    current = nullptr;
}

} // namespace app::view
