#pragma once

// A clock in seconds that never jumps (midnight, time changes); only differences matter.
class Clock {
public:
    virtual ~Clock() = default;
    virtual double seconds() = 0;
};
