#include "host_thread.h"

namespace app::view {

HostThread::HostThread() : thread_([this] { Loop(); }) {}

HostThread::~HostThread() { Stop(); }

void HostThread::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void HostThread::Post(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) throw std::runtime_error("the host has stopped");
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void HostThread::Loop() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return; // stopping, nothing left
            task = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        task(); // a packaged task: what it throws goes to the caller
        busy_ = false;
    }
}

} // namespace app::view
