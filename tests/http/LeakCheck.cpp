// After every test program run (one test per process under ctest), the process must be back to the threads and
// descriptors it started with: servers stopped, connections closed, no detached workers left.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

namespace {

std::size_t entries(const char* directory) { return std::distance(std::filesystem::directory_iterator(directory), {}); }

bool settlesTo(const char* directory, std::size_t limit) {
    for (int i = 0; i < 3000 && entries(directory) > limit; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return entries(directory) <= limit;
}

struct LeakCheck : ::testing::Environment {
    void SetUp() override {
        std::thread([] {}).join();  // lets a sanitizer start its own helper threads before counting
        descriptors = entries("/proc/self/fd"), threads = entries("/proc/self/task");
    }
    void TearDown() override {
        EXPECT_TRUE(settlesTo("/proc/self/task", threads)) << "threads left running";
        EXPECT_TRUE(settlesTo("/proc/self/fd", descriptors)) << "descriptors left open";
    }
    std::size_t descriptors = 0, threads = 0;
};

const auto* const registered = ::testing::AddGlobalTestEnvironment(new LeakCheck);

}  // namespace
