// The host's own thread: every call into the scene, the panel and the plug-in runs here, one at a
// time, as a host's user-interface thread runs them. HTTP threads hand work over and wait for it.
#pragma once
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace app::view {

class HostThread {
  public:
    HostThread();
    ~HostThread();
    HostThread(const HostThread&) = delete;
    HostThread& operator=(const HostThread&) = delete;

    // Runs `f` on the host thread after the calls before it and returns its result (or rethrows
    // what it threw). Throws std::runtime_error once the thread has stopped.
    template <class F> auto Call(F f) -> decltype(f()) {
        using R = decltype(f());
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(f));
        std::future<R> result = task->get_future();
        Post([task] { (*task)(); });
        return result.get();
    }
    // True while a call runs (a recording, a dialog waiting for its answer...).
    bool Busy() const { return busy_; }
    // Runs what is queued, then ends the thread; later calls throw.
    void Stop();

  private:
    void Post(std::function<void()> task);
    void Loop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::atomic<bool> busy_{false};
    std::thread thread_;
};

} // namespace app::view
