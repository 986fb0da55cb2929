#include "platform/closable_repaint.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace tarvo::platform {
namespace {

TEST(ClosableRepaint, ForwardsUntilClosedThenDoesNothing) {
    int wakes = 0;
    ClosableRepaint repaint([&] { ++wakes; });
    repaint.request_repaint();
    repaint.request_repaint();
    EXPECT_EQ(wakes, 2);
    repaint.close();
    repaint.request_repaint();
    EXPECT_EQ(wakes, 2);
}

// Threads that keep asking while the window closes never reach it afterwards.
TEST(ClosableRepaint, NoWakeAfterCloseReturnsWhateverTheThreadsDo) {
    std::atomic<bool> closed{false};
    std::atomic<int> late_wakes{0};
    auto repaint = std::make_shared<ClosableRepaint>([&] {
        if (closed) ++late_wakes;
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([repaint] {
            for (int n = 0; n < 2000; ++n) repaint->request_repaint();
        });
    repaint->close();
    closed = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(late_wakes, 0);
}

}  // namespace
}  // namespace tarvo::platform
