// A command line is whatever the user typed. The input is split at NUL bytes
// into argv entries (a lone 0x01 byte stands for a null entry) and parsed
// twice into one ZoArgs, as two Extract calls add up. The result is checked
// against a model of the parsing rules kept here: items are found by the
// hash of their name, an option without values is a flag, values after a
// flag of the same item are refused, and "--"/"+-" start "_left".
#include <zolib/app/Args.h>

#include <map>

#include "Shared.h"

namespace {

struct Item {
    std::string name;  // the name the item was created with
    bool flag = false;
    std::vector<std::string> values;
};

// The parsing rules, item by name hash, as the library's bag keeps them. A
// flag already there stays one; a value after a flag is refused.
void Extract(const std::vector<const char*>& argv, std::map<long, Item>* items) {
    std::string key;
    bool haveKey = false;
    auto add = [&](const char* value) {
        auto found = items->find(ZoBag::Hash(key.c_str()));
        if (found == items->end())
            (*items)[ZoBag::Hash(key.c_str())] =
                value ? Item{key, false, {value}} : Item{key, true, {}};
        else if (value != nullptr && !found->second.flag)
            found->second.values.push_back(value);
    };
    for (size_t i = 1; i < argv.size(); i++) {
        const char* arg = argv[i];
        if (arg == nullptr) continue;
        if (arg[0] != '-' && arg[0] != '+') {
            if (haveKey) add(arg);
            continue;
        }
        if (haveKey) add(nullptr);
        key = arg[1] == '-' ? "_left" : std::string(arg + 1);
        haveKey = true;
    }
    if (haveKey) add(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    // One copy of the bytes with a NUL after the last entry; argv points into it.
    std::string text(reinterpret_cast<const char*>(data), size);
    text += '\0';
    std::vector<const char*> argv{"program"};
    for (size_t at = 0; at < size; at += strlen(text.c_str() + at) + 1)
        argv.push_back(strcmp(text.c_str() + at, "\x01") == 0 ? nullptr : text.c_str() + at);
    ZoArgs args;
    std::map<long, Item> items;
    for (int pass = 0; pass < 2; pass++) {
        args.Extract(static_cast<int>(argv.size()), const_cast<char**>(argv.data()));
        Extract(argv, &items);
    }
    text.assign(text.size(), 'X');  // the arguments may go away: the parsed values are copies

    for (const auto& [hash, item] : items) {
        const char* name = item.name.c_str();
        int count = item.flag ? 1 : static_cast<int>(item.values.size());
        if (!args.Presents(name) || args.Count(name) != count || args.Value(name, 0) != nullptr ||
            args.Value(name, count + 1) != nullptr || (item.flag && args.Value(name, 1) != nullptr))
            abort();
        for (int k = 1; !item.flag && k <= count; k++) {
            const char* value = args.Value(name, k);
            if (value == nullptr || item.values[static_cast<size_t>(k - 1)] != value) abort();
        }
    }
    // Nothing else was made: names the model never saw are absent.
    for (const char* other : {"program", "never given", ""})
        if (items.count(ZoBag::Hash(other)) == 0 && args.Presents(other)) abort();
    return 0;
}
