// The path functions take names typed by users or read from disk: any bytes
// but NUL, any length. Each result is checked against what the function
// promises, from a few current directories (the root, a top-level directory
// and a deeper one), where "." and ".." resolve differently.
#include <zolib/fs/Path.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include "Shared.h"

namespace {

// A text the function allocated; compares with a string as the string it holds.
struct Text : std::unique_ptr<char, decltype(&free)> {
    explicit Text(char* text) : unique_ptr(text, free) {}
    bool Is(const std::string& s) const { return get() != nullptr && s == get(); }
};

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

void CheckParts(const std::string& path, const std::string& cwd) {
    Text parent(getparent(path.c_str()));
    size_t last = path.rfind('/');
    if (last == std::string::npos ? !parent.Is("")
        : last == 0               ? parent != nullptr
                                  : !parent.Is(path.substr(0, last)))
        abort();
    char* dir = nullptr;
    char* name = nullptr;
    splitfull(path.c_str(), &dir, &name);
    Text d(dir), n(name);
    // The name never holds a slash, and the two parts come from the path.
    if (dir == nullptr || name == nullptr || strchr(name, '/') != nullptr ||
        strlen(dir) + strlen(name) > path.size() || !StartsWith(path, dir))
        abort();
    splitfull(path.c_str(), nullptr, nullptr);  // neither part wanted

    Text full(rel2full(path.c_str()));
    bool up = path == ".." || StartsWith(path, "../");
    bool special = up || path == "." || StartsWith(path, "./");
    if (full == nullptr) {
        // Only ".." above a top-level directory has no answer.
        if (!up || cwd.rfind('/') != 0) abort();
    } else if (full.get()[0] != '/' ||
               (!special && path[0] != '/' && !StartsWith(full.get(), cwd)) ||
               (path[0] == '/' && !StartsWith(path, full.get()))) {
        abort();
    }
}

void CheckSearches(const std::string& s, char c, int n, int from, int to) {
    int last = strfindlast(s.c_str(), c), nth = strfindlastn(s.c_str(), c, n);
    size_t expectLast = c == '\0' ? std::string::npos : s.rfind(c);
    size_t expectFirst = c == '\0' ? std::string::npos : s.find(c);
    if (last != static_cast<int>(expectLast) ||
        strfindfirst(s.c_str(), c) != static_cast<int>(expectFirst) ||
        (nth != -1 && (nth > last || s[static_cast<size_t>(nth)] != c)) || (n == 0 && nth != last))
        abort();
    Text cut(strcut(s.c_str(), from, to));
    // An empty range (to == from - 1) is "" wherever it starts.
    bool empty = from >= 0 && to == from - 1;
    bool inside = from >= 0 && to >= from && to < static_cast<int>(s.size());
    if ((cut != nullptr) != (empty || inside) || (empty && !cut.Is("")) ||
        (inside &&
         !cut.Is(s.substr(static_cast<size_t>(from), static_cast<size_t>(to - from + 1)))))
        abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The deeper directory must exist; the fuzzer's own stays as it was.
    if (access("/usr/share", X_OK) != 0) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static const char* const kDirs[] = {"/", "/usr", "/usr/share"};
    const char* cwd = kDirs[in.ConsumeIntegralInRange<int>(0, 2)];
    char c = in.ConsumeIntegral<char>();
    int n = in.ConsumeIntegralInRange<int>(-1, 8);
    int from = in.ConsumeIntegralInRange<int>(-2, 64);
    int to = in.ConsumeIntegralInRange<int>(-2, 64);
    // C strings end at the first NUL.
    std::string a = in.ConsumeRandomLengthString(4096).c_str();
    std::string b = in.ConsumeRemainingBytesAsString().c_str();

    static char* home = getcwd(nullptr, 0);
    if (chdir(cwd) != 0) abort();
    for (const std::string& s : {a, b}) {
        CheckParts(s, cwd);
        CheckSearches(s, c, n, from, to);
    }
    if (!Text(strpath(a.c_str(), b.c_str())).Is(b.empty() ? a : a + "/" + b) ||
        !Text(stradd(a.c_str(), b.c_str())).Is(a + b) ||
        !Text(entryattr(a.c_str(), b.c_str())).Is(a + "/.attr." + b) ||
        !Text(zolib::strndup(a.c_str(), static_cast<int>(a.size()))).Is(a) || chdir(home) != 0)
        abort();
    return 0;
}
