// After every test program run (one test per process under ctest), the
// process must be back to the threads and descriptors it started with:
// servers stopped, connections closed, no detached workers left.
#include <gtest/gtest.h>

#include <thread>

#include "TestClient.h"

namespace {

class LeakCheck : public ::testing::Environment {
public:
    void SetUp() override {
        // Lets a sanitizer start its own helper threads before counting.
        std::thread([] {}).join();
        descriptors_ = http::test::openDescriptorCount();
        threads_ = http::test::threadCount();
    }
    void TearDown() override {
        EXPECT_TRUE(http::test::settlesTo(http::test::threadCount, threads_)) << "threads left running";
        EXPECT_TRUE(http::test::settlesTo(http::test::openDescriptorCount, descriptors_)) << "descriptors left open";
    }

private:
    std::size_t descriptors_ = 0;
    std::size_t threads_ = 0;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new LeakCheck);

}  // namespace
