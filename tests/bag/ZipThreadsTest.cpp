// Each thread keeps compression state of its own: threads zipping at once
// must neither share it nor leak it when they end (LeakSanitizer and
// ThreadSanitizer watch this program).
#include <zolib/bag/Zip.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string Text(size_t n, unsigned seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        s[i] = "threads zip bags "[(seed >> 16) % 17];
    }
    return s;
}

std::string Compress2(const std::string& src) {
    uLongf length = compressBound(src.size());
    std::string out(length, '\0');
    compress2(reinterpret_cast<Bytef*>(&out[0]), &length,
              reinterpret_cast<const Bytef*>(src.data()), src.size(), -1);
    out.resize(length);
    return out;
}

TEST(ZipThreads, ConcurrentCallsGiveCompress2Bytes) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 60;
    std::atomic<int> wrong{0};
    for (int generation = 0; generation < 2; generation++) {  // threads end and start again
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; t++) {
            threads.emplace_back([t, generation, &wrong] {
                for (int r = 0; r < kRounds; r++) {
                    std::string src = Text(50 + 97 * r + 13 * t, t * 1000 + r + generation);
                    unsigned long length = 0;
                    char* block = Zip(src.data(), src.size(), &length, -1, nullptr, false);
                    unsigned long back = 0;
                    char* plain = block ? Unzip(block, length, &back, nullptr) : nullptr;
                    if (block == nullptr || plain == nullptr ||
                        std::string(block + 4, length - 4) != Compress2(src) ||
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
