// The path functions take names typed by users or read from disk: any bytes
// but NUL, any length. Each result is checked against what the function
// promises, from a few current directories (the root, a top-level directory
// and a deeper one), where "." and ".." resolve differently.
#include <zolib/fs/Path.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Freed {
    explicit Freed(char* text) : text(text) {}
    ~Freed() { free(text); }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    char* text;
};

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

void CheckGetparent(const std::string& path) {
    Freed parent(getparent(path.c_str()));
    size_t last = path.rfind('/');
    if (last == std::string::npos) {
        if (parent.text == nullptr || *parent.text != '\0') abort();
    } else if (last == 0) {
        if (parent.text != nullptr) abort();
    } else if (parent.text == nullptr || path.substr(0, last) != parent.text) {
        abort();
    }
}

void CheckSplitfull(const std::string& full) {
    char* dir = nullptr;
    char* name = nullptr;
    splitfull(full.c_str(), &dir, &name);
    Freed d(dir), n(name);
    if (dir == nullptr || name == nullptr) abort();
    // The name never holds a slash, and the two parts come from the path.
    if (strchr(name, '/') != nullptr) abort();
    if (strlen(dir) + strlen(name) > full.size()) abort();
    if (!StartsWith(full, dir)) abort();
    splitfull(full.c_str(), nullptr, nullptr);  // neither part wanted
}

void CheckRel2full(const std::string& path, const std::string& cwd) {
    Freed full(rel2full(path.c_str()));
    bool special = path == "." || path == ".." || StartsWith(path, "./") || StartsWith(path, "../");
    if (full.text == nullptr) {
        // Only ".." above a top-level directory has no answer.
        if (!(path == ".." || StartsWith(path, "../")) || cwd.rfind('/') != 0) abort();
        return;
    }
    if (full.text[0] != '/') abort();
    if (!special && path[0] != '/' && !StartsWith(full.text, cwd)) abort();
    if (path[0] == '/' && !StartsWith(path, full.text)) abort();
}

void CheckSearches(const std::string& s, char c, int n) {
    int last = strfindlast(s.c_str(), c);
    int first = strfindfirst(s.c_str(), c);
    int nth = strfindlastn(s.c_str(), c, n);
    size_t expectLast = c == '\0' ? std::string::npos : s.rfind(c);
    size_t expectFirst = c == '\0' ? std::string::npos : s.find(c);
    if (last != (expectLast == std::string::npos ? -1 : static_cast<int>(expectLast))) abort();
    if (first != (expectFirst == std::string::npos ? -1 : static_cast<int>(expectFirst))) abort();
    if (nth != -1 && (nth > last || s[static_cast<size_t>(nth)] != c)) abort();
    if (n == 0 && nth != last) abort();
}

void CheckCut(const std::string& s, int from, int to) {
    Freed cut(strcut(s.c_str(), from, to));
    // An empty range (to == from - 1) is "" wherever it starts.
    bool empty = from >= 0 && to == from - 1;
    bool inside = from >= 0 && to >= from && to < static_cast<int>(s.size());
    if ((cut.text != nullptr) != (empty || inside)) abort();
    if (empty && *cut.text != '\0') abort();
    if (inside &&
        s.substr(static_cast<size_t>(from), static_cast<size_t>(to - from + 1)) != cut.text)
        abort();
}

void CheckJoins(const std::string& a, const std::string& b) {
    Freed joined(strpath(a.c_str(), b.c_str()));
    if (joined.text == nullptr || joined.text != (b.empty() ? a : a + "/" + b)) abort();
    Freed sum(stradd(a.c_str(), b.c_str()));
    if (sum.text == nullptr || sum.text != a + b) abort();
    Freed attr(entryattr(a.c_str(), b.c_str()));
    if (attr.text == nullptr || attr.text != a + "/.attr." + b) abort();
    Freed copy(zolib::strndup(a.c_str(), static_cast<int>(a.size())));
    if (copy.text == nullptr || copy.text != a) abort();
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
    std::string a = in.ConsumeRandomLengthString(4096);
    std::string b = in.ConsumeRemainingBytesAsString();
    // C strings end at the first NUL.
    a.resize(strlen(a.c_str()));
    b.resize(strlen(b.c_str()));

    static char* home = getcwd(nullptr, 0);
    if (chdir(cwd) != 0) abort();
    for (const std::string& s : {a, b}) {
        CheckGetparent(s);
        CheckSplitfull(s);
        CheckRel2full(s, cwd);
        CheckSearches(s, c, n);
        CheckCut(s, from, to);
    }
    CheckJoins(a, b);
    if (chdir(home) != 0) abort();
    return 0;
}
