// LoadFromFile reads bag files that may be short, truncated or lying.
#include <zolib/bag/Bag.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string path;

void RemoveFile() {
    unlink(path.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char pattern[] = "/tmp/zolib-fuzz-XXXXXX";
    int fd = mkstemp(pattern);
    if (fd < 0) abort();
    close(fd);
    path = pattern;
    atexit(RemoveFile);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(path.c_str(), "w");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
    ZoBag* bag = LoadFromFile(path.c_str());
    if (bag == nullptr) abort();  // the file exists: never null
    delete bag;
    return 0;
}
