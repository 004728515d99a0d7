#include "events.h"

namespace app::view {
namespace {
constexpr size_t kKept = 512;
}

void EventLog::Post(nlohmann::json event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        event["seq"] = ++last_;
        events_.push_back(std::move(event));
        if (events_.size() > kKept) events_.pop_front();
    }
    posted_.notify_all();
}

nlohmann::json EventLog::After(int64_t after, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    posted_.wait_for(lock, wait, [&] { return closed_ || last_ > after; });
    nlohmann::json out = nlohmann::json::array();
    for (const auto& e : events_)
        if (e["seq"].get<int64_t>() > after) out.push_back(e);
    return out;
}

int64_t EventLog::Last() {
    std::lock_guard<std::mutex> lock(mutex_);
    return last_;
}

void EventLog::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    posted_.notify_all();
}

} // namespace app::view
