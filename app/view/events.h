// What the page learns while it waits: recording progress, dialogs opened and closed, macro lines,
// the end of a call. The page asks for the events after the last one it saw (long polling).
#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include <nlohmann/json.hpp>

namespace app::view {

class EventLog {
  public:
    // Adds an event; it gets the next sequence number as "seq".
    void Post(nlohmann::json event);
    // The events after `after` (oldest kept first), waiting up to `wait` for one to come; an empty
    // list when none came or the log was closed. Old events are dropped past a few hundred.
    nlohmann::json After(int64_t after, std::chrono::milliseconds wait);
    int64_t Last();
    // Wakes every waiter; later waits return at once.
    void Close();

  private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<nlohmann::json> events_;
    int64_t last_ = 0;
    bool closed_ = false;
};

} // namespace app::view
