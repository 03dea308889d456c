// Writes the fuzz targets' seed corpora from bags the library makes itself:
//   zolib_fuzz_corpus <corpus directory>
#include <zolib/ZoLib.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string root;

void Write(const std::string& target, const std::string& name, const std::string& bytes) {
    std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    FILE* file = fopen((dir + "/" + name).c_str(), "w");
    if (file == nullptr || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        perror(name.c_str());
        exit(1);
    }
    fclose(file);
}

std::string Flat(ZoBag& bag, bool zip) {
    std::string out(bag.FlatSize(zip), '\0');
    unsigned long size = out.size();
    bag.Flatten(&out[0], &size, zip);
    out.resize(size);
    return out;
}

std::string Zipped(const std::string& plain) {
    unsigned long length = 0;
    char* block = Zip(plain.data(), plain.size(), &length, -1, nullptr, false);
    std::string out(block, length);
    free(block);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    root = argv[1];

    ZoBag empty(0, 0);
    ZoBag example(0x1234, 0);
    example.Setint32("n", 7, 0);
    ZoBag full(0xF00D, 0);
    full.who = 2;
    full.when = 3;
    full.Setbool("b", true, 0);
    full.Setint8("i8", -1, 0);
    full.Setint16("i16", -2, 0);
    full.Setint32("i32", 3, 0);
    full.Setint32("i32", 4, 0);
    full.Setint64("i64", -5, 0);
    full.Setfloat32("f", 1.5f, 0);
    full.Setfloat64("d", 2.5, 0);
    full.Setstring("s", "text", 0);
    full.Setdata("buf", T_BUFFER, "\1\2\3", 3, 0);
    full.Setbag("bag", &example, 0);
    ZoBag nested(0x99, 0);
    nested.Setbag("inner", &full, 0);
    nested.Setstring("s", "outer", 0);

    Write("fuzz_unflatten", "empty", Flat(empty, false));
    Write("fuzz_unflatten", "example", Flat(example, false));
    Write("fuzz_unflatten", "full", Flat(full, false));
    Write("fuzz_unflatten", "full-zipped", Flat(full, true));
    Write("fuzz_unflatten", "nested", Flat(nested, false));

    // The plain records, which fuzz_unflatten_zip also reads through a stream.
    Write("fuzz_unflatten_zip", "empty", Flat(empty, false));
    Write("fuzz_unflatten_zip", "full", Flat(full, false));
    Write("fuzz_unflatten_zip", "nested", Flat(nested, false));

    // Element bytes of nested bags: plain as Setbag stores them, and a
    // compressed one, which Setdata can store too.
    Write("fuzz_getbag", "example", Flat(example, false));
    Write("fuzz_getbag", "full", Flat(full, false));
    Write("fuzz_getbag", "nested", Flat(nested, false));
    Write("fuzz_getbag", "full-zipped", Flat(full, true));

    Write("fuzz_peek", "empty", Flat(empty, false));
    Write("fuzz_peek", "example", Flat(example, false));
    Write("fuzz_peek", "zipped", Flat(example, true));

    Write("fuzz_unzip", "empty", Zipped(""));
    Write("fuzz_unzip", "text", Zipped("a small text, a small text, a small text"));
    Write("fuzz_unzip", "flat", Zipped(Flat(full, false)));

    // What arrives on a looper's pipe: bags as Send writes them (compressed),
    // plain ones, raw bytes, two messages read together, and a bag larger
    // than one read of the looper's 4096-byte buffer.
    ZoBag large(0x1a, 0);
    std::string noise(6000, '\0');
    unsigned int seed = 12345;
    for (char& c : noise) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 24);
    }
    large.Setdata("noise", T_BUFFER, noise.data(), static_cast<int>(noise.size()), 0);
    Write("fuzz_channel", "example", Flat(example, true));
    Write("fuzz_channel", "full", Flat(full, true));
    Write("fuzz_channel", "nested-plain", Flat(nested, false));
    Write("fuzz_channel", "raw", "raw bytes, not a bag");
    Write("fuzz_channel", "two", Flat(example, true) + Flat(full, true));
    Write("fuzz_channel", "large", Flat(large, true));

    // Programs of bag operations: any bytes make one; a few lengths.
    for (size_t length : {16, 200, 1500}) {
        std::string program(length, '\0');
        for (char& c : program) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 24);
        }
        Write("fuzz_roundtrip", "program-" + std::to_string(length), program);
    }

    // Command lines, one argv entry per NUL-ended text; "\1" is a null entry.
    using namespace std::string_literals;
    Write("fuzz_args", "options", "-a\0x\0+flag\0-o\0v1\0v2\0"s);
    Write("fuzz_args", "left", "plain\0-n\0--\0one\0two\0-after\0"s);
    Write("fuzz_args", "odd", "\1\0\0-\0+-\0z\0-a\0-a\0v\0-5\0"s);

    // Path texts (the fuzzer takes its numbers from the end of the input).
    Write("fuzz_path", "absolute", "/usr/share/doc/\0/usr\0\x01\x02\x03/"s);
    Write("fuzz_path", "dots", "../x/./..//y\0./a/\0\x05\x01\x02."s);
    Write("fuzz_path", "plain", "name.ext\0..\0\x00\x03\x04\x07"s);

    std::string dir = root + "/fuzz_loadfile";
    mkdir(dir.c_str(), 0755);
    SaveToFile((dir + "/empty").c_str(), &empty);
    SaveToFile((dir + "/full").c_str(), &full);
    SaveToFile((dir + "/nested").c_str(), &nested);
    return 0;
}
