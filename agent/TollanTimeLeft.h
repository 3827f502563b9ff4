#pragma once

#include <cstdint>

// What is left of a budget, counted on a clock that only moves forward and ignores changes of the time of
// day: an administrator who sets the clock back or forward lengthens or shortens no operation.
class CTollanTimeLeft {
public:
    // Counted from now.
    explicit CTollanTimeLeft(int64_t budget) : CTollanTimeLeft(Now(), budget) {}
    // Counted from start, an earlier reading of Now().
    CTollanTimeLeft(uint64_t start, int64_t budget) : m_Start(start), m_Budget(budget) {}

    // Milliseconds of the forward clock.
    static uint64_t Now();
    // Signed milliseconds; zero or less means none is left.
    int64_t Get() const;

private:
    uint64_t m_Start;
    int64_t m_Budget;
};
