#pragma once
// Every wait of the harvests goes through one sleeper, so tests can speed the clock up while the
// program waits the real times with the window responsive.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void wait(int ms) = 0;
};

// Waits the real time with wait_pumping (the window stays responsive on its own thread) and wakes
// early when the calling run is stopped.
class RealSleeper final : public Sleeper {
public:
    void wait(int ms) override;
};

// Divides every wait by a factor (tests).
class ScaledSleeper final : public Sleeper {
public:
    explicit ScaledSleeper(int divisor) : divisor_(divisor < 1 ? 1 : divisor) {}
    void wait(int ms) override;

private:
    int divisor_;
};
