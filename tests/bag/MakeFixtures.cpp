// Writes the fixture bag's plain and compressed flat forms and its bag file
// into a folder. Run once per architecture (scripts/cross.sh ARCH --fixtures
// runs it under qemu-user into tests/bag/fixtures/ARCH).
#include <zolib/bag/Bag.h>

#include <cstdio>
#include <string>

#include "bag/Fixtures.h"

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
    std::string dir = argv[1];
    auto bag = FixtureBag();
    std::string plain(bag->FlatSize(false), '\0');
    std::string zipped(bag->FlatSize(true), '\0');
    unsigned long size = 0;
    bool ok = bag->Flatten(&plain[0], nullptr, false) && bag->Flatten(&zipped[0], &size, true);
    zipped.resize(size);
    ok = ok && Write(dir + "/" + kFixturePlain, plain) &&
         Write(dir + "/" + kFixtureZipped, zipped) &&
         SaveToFile((dir + "/" + kFixtureFile).c_str(), bag.get());
    if (!ok) fprintf(stderr, "%s: cannot write the fixtures into %s\n", argv[0], argv[1]);
    return ok ? 0 : 1;
}
