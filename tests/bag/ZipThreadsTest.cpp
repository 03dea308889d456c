// Each thread keeps compression state of its own: threads zipping at once
// must neither share it nor leak it when they end (LeakSanitizer and
// ThreadSanitizer watch this program).
#include <zolib/bag/Zip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "bag/FlatBytes.h"

namespace {

TEST(ZipThreads, ConcurrentCallsGiveCompress2Bytes) {
    std::atomic<int> wrong{0};
    for (int generation = 0; generation < 2; generation++) {  // threads end and start again
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < 4; t++) {
            threads.emplace_back([t, generation, &wrong] {
                for (unsigned r = 0; r < 60; r++) {
                    std::string src = Mixed(50 + 97 * r + 13 * t, t * 1000 + r + generation);
                    unsigned long length = 0, back = 0;
                    char* block = Zip(src.data(), src.size(), &length, -1, nullptr, false);
                    char* plain = block ? Unzip(block, length, &back, nullptr) : nullptr;
                    if (plain == nullptr || std::string(block + 4, length - 4) != Compress2(src) ||
                        std::string(plain, back) != src)
                        wrong++;
                    free(plain);
                    free(block);
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
    }
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
