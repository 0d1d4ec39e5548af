#pragma once

// Time source for every wait and delay of the tool. The real clock reads the
// system time and really sleeps; tests inject a clock whose sleeps return at once
// so the 35-second erase wait and the 10-second watchdog cost nothing.
namespace tarvo {

class Clock {
  public:
    virtual ~Clock() = default;
    // Seconds since 1970-01-01 as a double.
    virtual double now() = 0;
    // Blocks the calling thread for the given number of seconds (<= 0: returns).
    virtual void sleep(double seconds) = 0;
};

class SystemClock final : public Clock {
  public:
    double now() override;
    void sleep(double seconds) override;
};

}  // namespace tarvo
