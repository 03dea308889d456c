#include <zolib/app/Temp.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

const int LABEL_MAX = 1 << 20;

// In [0, 1) whatever RAND_MAX is; RAND_MAX + 1.0 is exact in double.
double Draw() {
    return rand() / (RAND_MAX + 1.0);
}

}  // namespace

void InitTemp() {
    srand(static_cast<unsigned int>(time(nullptr)));
}

char* TempLabel(int length) {
    if (length < 0 || length > LABEL_MAX) return nullptr;
    char* label = static_cast<char*>(malloc(static_cast<size_t>(length) + 1));
    if (label == nullptr) return nullptr;
    for (int i = 0; i < length; i++)
        label[i] = static_cast<char>('A' + static_cast<int>(Draw() * 26.0));
    label[length] = '\0';
    return label;
}

char* MakeName(const char* prefix, long number, const char* suffix) {
    if (prefix == nullptr) prefix = "";
    if (suffix == nullptr) suffix = "";
    // Measured rather than guessed, so any long (LONG_MIN has 20 characters)
    // and any prefix length fit.
    int length = snprintf(nullptr, 0, "%s-%ld%s", prefix, number, suffix);
    if (length < 0) return nullptr;  // longer than INT_MAX
    size_t size = static_cast<size_t>(length) + 1;
    char* name = static_cast<char*>(malloc(size));
    if (name == nullptr) return nullptr;
    snprintf(name, size, "%s-%ld%s", prefix, number, suffix);
    return name;
}

double Random(double low, double high) {
    return low + (high - low) * Draw();
}

int Random(int low, int high) {
    // The span is taken in double so that Random(INT_MIN, INT_MAX) does not
    // overflow. Dropping the fraction toward zero (not flooring) keeps `high`
    // out of reach for a reversed span too: floor would turn -9.5 into -10
    // and give Random(10, 0) the value 0.
    double span = static_cast<double>(high) - static_cast<double>(low);
    return static_cast<int>(low + std::trunc(span * Draw()));
}
