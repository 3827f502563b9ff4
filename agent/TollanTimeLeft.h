#pragma once

#include <cstdint>

// An operation's time left, counted on the agent's clock from the moment the object is made: the budget less
// the time since, and never more than it was at the last reading, so that a clock set back gives nothing back.
class CTollanTimeLeft {
public:
    explicit CTollanTimeLeft(int64_t budget);
    // Signed milliseconds; zero or less means none is left.
    int64_t Get();

private:
    uint64_t m_Start;
    int64_t m_Budget;
    int64_t m_Left;
};
