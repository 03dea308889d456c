#include <zolib/app/Args.h>

#include <zolib/bag/Bag.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char* const LEFT = "_left";

bool IsSign(char c) {
    return c == '-' || c == '+';
}

// An option followed by no plain argument becomes a flag. The bag refuses the
// boolean when the option already holds strings, which is what keeps them.
void Record(ZoBag* bag, const char* key) {
    if (key != nullptr) bag->Setbool(key, true, 1);
}

}  // namespace

// Without memory for its bag the object parses nothing and answers "absent".
ZoArgs::ZoArgs() : bag(new (std::nothrow) ZoBag(0, 0)) {}

ZoArgs::~ZoArgs() {
    delete bag;
}

char* ZoArgs::trunc(const char* text) {
    if (text == nullptr) return nullptr;
    size_t length = strlen(text);
    const char* rest = length > 0 ? text + 1 : text;
    size_t size = length > 0 ? length : 1;  // the rest and its NUL
    char* copy = static_cast<char*>(malloc(size));
    if (copy == nullptr) return nullptr;
    memcpy(copy, rest, size);
    return copy;
}

void ZoArgs::Extract(int argc, const char* const* argv) {
    if (argv == nullptr || bag == nullptr) return;
    // The current key is our own copy: argv may be changed by the caller, and
    // "_left" must be released like any option name.
    char* key = nullptr;
    for (int i = 1; i < argc; i++) {
        const char* arg = argv[i];
        if (arg == nullptr) continue;
        if (!IsSign(arg[0])) {
            if (key != nullptr) bag->Setstring(key, arg, 0);
            continue;
        }
        Record(bag, key);
        free(key);
        // A name that cannot be copied drops the option and its values.
        key = arg[1] == '-' ? strdup(LEFT) : ZoArgs::trunc(arg);
    }
    Record(bag, key);
    free(key);
}

bool ZoArgs::Presents(const char* name) {
    if (bag == nullptr) return false;
    return bag->HasItem(name, static_cast<T_Data*>(nullptr));
}

int ZoArgs::Count(const char* name) {
    if (bag == nullptr) return 0;
    return bag->CountItem(name);
}

char* ZoArgs::Value(const char* name, int index) {
    // The bag would read element 1 for a negative index; here it names no value.
    if (index < 1 || bag == nullptr) return nullptr;
    char* value = nullptr;
    return bag->Getstring(name, &value, index) ? value : nullptr;
}
