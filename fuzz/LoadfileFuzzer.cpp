// LoadFromFile reads bag files that may be short, truncated or lying, and
// zobag reads the same bytes as a bag file or either flat form: whatever it
// accepts must be a whole bag.

#include <unistd.h>

#include "BagFiles.h"

#include "Shared.h"

namespace {

char path[] = "/tmp/zolib-fuzz-XXXXXX";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int fd = mkstemp(path);
    if (fd < 0) abort();
    close(fd);
    atexit([] { unlink(path); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(path, "w");
    if (file == nullptr || (size > 0 && fwrite(data, 1, size, file) != size)) abort();
    fclose(file);
    std::unique_ptr<ZoBag> loaded(LoadFromFile(path));
    if (loaded == nullptr) abort();  // the file exists: never null
    std::string plain, error;
    BagForm form;
    if (!PlainFlatOf(std::string(reinterpret_cast<const char*>(data), size), &form, &plain, &error))
        return 0;
    std::unique_ptr<ZoBag> read(BagOfPlain(plain, &error));
    if (read != nullptr) CheckWhole(*read);
    return 0;
}
