#pragma once

// A GoogleTest case's checks in a process of their own, for what a process sets up once and keeps.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

// Runs the checks in a process of their own: this program started afresh for the case (as GoogleTest starts one for
// a death test) and ended when they return, so whatever they hold must end with them. What a process sets up once
// and keeps for its life (a loaded message module, resolved functions, Wine's last name server) is then not set up
// yet, whatever earlier cases or rounds did. That process prints nothing of its own: its failures come back through
// its error output.
inline void expectInFreshProcess(const std::function<void()>& checks)
{
    auto exitWithFailures = [] {
        const ::testing::TestResult* result = ::testing::UnitTest::GetInstance()->current_test_info()->result();
        for (int i = 0; i < result->total_part_count(); ++i) {
            const ::testing::TestPartResult& part = result->GetTestPartResult(i);
            if (part.failed())
                fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?", part.line_number(),
                        part.message());
        }
        std::exit(result->Failed() ? 1 : 0);
    };
    EXPECT_EXIT(
        {
            checks();
            exitWithFailures();
        },
        ::testing::ExitedWithCode(0), "");
}
