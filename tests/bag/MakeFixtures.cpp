// Writes the fixture bag's plain and compressed flat forms and its bag file
// into a folder. Run once per architecture (scripts/cross.sh ARCH --fixtures
// runs it under qemu-user into tests/bag/fixtures/ARCH).
#include <zolib/bag/Bag.h>

#include <cstdio>
#include <string>

#include "bag/Fixtures.h"
#include "support/Bytes.h"

namespace {

bool Write(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    std::string dir = std::string(argv[1]) + "/";
    auto bag = FixtureBag();
    if (Write(dir + kFixturePlain, zotest::Plain(*bag)) &&
        Write(dir + kFixtureZipped, zotest::Compressed(*bag)) &&
        SaveToFile((dir + kFixtureFile).c_str(), bag.get()))
        return 0;
    fprintf(stderr, "%s: cannot write the fixtures into %s\n", argv[0], argv[1]);
    return 1;
}
