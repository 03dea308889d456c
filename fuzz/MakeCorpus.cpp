// Writes the fuzz targets' seed corpora from bags the library makes itself:
//   zolib_fuzz_corpus <corpus directory>
#include <zolib/ZoLib.h>

#include <sys/stat.h>

#include "Shared.h"

namespace {

using std::string;
using namespace std::string_literals;

string Zipped(const string& plain) {
    unsigned long length = 0;
    char* block = Zip(plain.data(), plain.size(), &length, -1, nullptr, false);
    string out(block, length);
    free(block);
    return out;
}

string Noise(size_t length) {
    static unsigned int seed = 12345;
    string out(length, '\0');
    for (char& c : out)
        c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    ZoBag empty(0, 0), example(0x1234, 0), full(0xF00D, 0), nested(0x99, 0), large(0x1a, 0);
    example.Setint32("n", 7, 0);
    full.who = 2;
    full.when = 3;
    const char* const names[] = {"s", "b", "i8", "i16", "i32", "i64", "f", "d"};
    const int widths[] = {0, 1, 1, 2, 4, 8, 4, 8};
    for (int type = T_BOOL; type <= T_FLOAT64; type++)  // every fixed-width type
        full.Setdata(names[type], static_cast<T_Data>(type), "\1\2\3\4\5\6\7\x08", widths[type], 0);
    full.Setint32("i32", 4, 0);
    full.Setstring("s", "text", 0);
    full.Setdata("buf", T_BUFFER, "\1\2\3", 3, 0);
    full.Setbag("bag", &example, 0);
    nested.Setbag("inner", &full, 0);
    nested.Setstring("s", "outer", 0);
    string noise = Noise(6000);  // more than one read of a looper's 4096-byte buffer
    large.Setdata("noise", T_BUFFER, noise.data(), static_cast<int>(noise.size()), 0);

    // Every target that reads flat bags gets each bag in both forms; the
    // looper's pipe also raw bytes, two messages read together and a large one.
    const std::pair<string, ZoBag*> bags[] = {
        {"empty", &empty}, {"example", &example}, {"full", &full}, {"nested", &nested}};
    struct Seed {
        string target, name, bytes;
    };
    std::vector<Seed> seeds = {
        {"fuzz_unzip", "text", Zipped("a small text, a small text, a small text")},
        {"fuzz_channel", "raw", "raw bytes, not a bag"},
        {"fuzz_channel", "two", FlatOf(example, true) + FlatOf(full, true)},
        {"fuzz_channel", "large", FlatOf(large, true)},
        // Programs of bag operations: any bytes make one.
        {"fuzz_roundtrip", "program-16", Noise(16)},
        {"fuzz_roundtrip", "program-200", Noise(200)},
        {"fuzz_roundtrip", "program-1500", Noise(1500)},
        // Command lines, one argv entry per NUL-ended text; "\1" is a null entry.
        {"fuzz_args", "options", "-a\0x\0+flag\0-o\0v1\0v2\0"s},
        {"fuzz_args", "left", "plain\0-n\0--\0one\0two\0-after\0"s},
        {"fuzz_args", "odd", "\1\0\0-\0+-\0z\0-a\0-a\0v\0-5\0"s},
        // Path texts (the fuzzer takes its numbers from the end of the input).
        {"fuzz_path", "absolute", "/usr/share/doc/\0/usr\0\x01\x02\x03/"s},
        {"fuzz_path", "dots", "../x/./..//y\0./a/\0\x05\x01\x02."s},
        {"fuzz_path", "plain", "name.ext\0..\0\x00\x03\x04\x07"s},
    };
    for (const auto& [name, bag] : bags) {
        for (const char* target :
             {"fuzz_unflatten", "fuzz_unflatten_zip", "fuzz_getbag", "fuzz_peek", "fuzz_channel"}) {
            seeds.push_back({target, name, FlatOf(*bag)});
            seeds.push_back({target, name + "-zipped", FlatOf(*bag, true)});
        }
        seeds.push_back({"fuzz_unzip", name, Zipped(FlatOf(*bag))});
    }
    for (const Seed& s : seeds) {
        string dir = string(argv[1]) + "/" + s.target;
        mkdir(dir.c_str(), 0755);
        FILE* file = fopen((dir + "/" + s.name).c_str(), "w");
        if (file == nullptr || fwrite(s.bytes.data(), 1, s.bytes.size(), file) != s.bytes.size() ||
            fclose(file) != 0) {
            perror(s.name.c_str());
            return 1;
        }
    }
    string dir = string(argv[1]) + "/fuzz_loadfile";
    mkdir(dir.c_str(), 0755);
    for (const auto& [name, bag] : bags)
        if (!SaveToFile((dir + "/" + name).c_str(), bag)) return 1;
    return 0;
}
