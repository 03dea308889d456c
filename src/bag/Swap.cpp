#include <zolib/bag/Swap.h>

#include <algorithm>

namespace {

void Reverse(void* p, unsigned int n) {
    if (p == nullptr) return;
    unsigned char* bytes = static_cast<unsigned char*>(p);
    std::reverse(bytes, bytes + n);
}

}  // namespace

int Endianess() {
    return __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? 0 : 1;
}

void Swap(short* value) {
    Reverse(value, sizeof *value);
}
void Swap(unsigned short* value) {
    Reverse(value, sizeof *value);
}
void Swap(int* value) {
    Reverse(value, sizeof *value);
}
void Swap(unsigned int* value) {
    Reverse(value, sizeof *value);
}
void Swap(float* value) {
    Reverse(value, sizeof *value);
}
void Swap(long long* value) {
    Reverse(value, sizeof *value);
}
void Swap(unsigned long long* value) {
    Reverse(value, sizeof *value);
}
void Swap(double* value) {
    Reverse(value, sizeof *value);
}
void Swap(unsigned char* p, unsigned int n) {
    Reverse(p, n);
}
