// LoadFromFile reads bag files that may be short, truncated or lying, and
// zobag reads the same bytes as a bag file or either flat form: whatever it
// accepts must be a whole bag.
#include <zolib/bag/Bag.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "BagFiles.h"
#include "FlatOf.h"

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
    std::string plain, error;
    BagForm form;
    if (!PlainFlatOf(std::string(reinterpret_cast<const char*>(data), size), &form, &plain, &error))
        return 0;
    std::unique_ptr<ZoBag> read(BagOfPlain(plain, &error));
    if (read != nullptr) FlatOf(*read);  // flattens again, or aborts
    return 0;
}
