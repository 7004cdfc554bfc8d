// What the schedule test asks of whoever runs the scheduler: whether scheduling is suspended.
#pragma once

namespace peltra::config {

class SchedulingFlags {
public:
    virtual ~SchedulingFlags() = default;
    // The operator paused all scheduling.
    virtual bool paused() const = 0;
    // The station is shutting down and waits for the calls in progress to end.
    virtual bool waitingForCompletion() const = 0;
};

}  // namespace peltra::config
