#include "stress/Soak.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace soak {

double Seconds() {
    static const double seconds = [] {
        const char* text = getenv("ZOLIB_SOAK_SECONDS");
        double value = text != nullptr ? atof(text) : 0;
        return value > 0 ? value : 1.0;
    }();
    return seconds;
}

void Report(const char* name, std::initializer_list<std::pair<const char*, long>> counts) {
    std::string line = std::string("[ counts   ] ") + name + ":";
    for (const auto& [key, value] : counts) {
        line += " " + std::string(key) + "=" + std::to_string(value);
        ::testing::Test::RecordProperty(key, std::to_string(value));
    }
    printf("%s\n", line.c_str());
    fflush(stdout);
}

bool Parked(pid_t tid) {
    std::string path = "/proc/self/task/" + std::to_string(tid) + "/syscall";
    FILE* file = fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    long number = -1;
    if (fscanf(file, "%ld", &number) != 1) number = -1;
    fclose(file);
    return number == 128;
}

namespace {

// Each test runs for its time, and a minute more before the watchdog ends it.
const bool kLimitSet = [] {
    zotest::SetTestTimeLimit(std::chrono::seconds(60 + static_cast<long>(2 * Seconds())));
    return true;
}();

}  // namespace

}  // namespace soak
