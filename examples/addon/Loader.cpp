// Loads an add-on, prints its description and lets it greet some names.
//
//   zoaddon_loader -addon <path> [-greeting <text>] [-- <name>...]
//
// Exits 0 when the add-on loaded and answered, 1 otherwise.
#include <zolib/ZoLib.h>

#include <cstdio>

namespace {

void Show(const char* label, const char* text) {
    std::printf("  %-10s %s\n", label, text != nullptr ? text : "(not given)");
}

}  // namespace

int main(int argc, char** argv) {
    ZoArgs args;
    args.Extract(argc, argv);
    const char* path = args.Value("addon", 1);
    if (path == nullptr) {
        std::fprintf(stderr, "usage: %s -addon <path> [-greeting <text>] [-- <name>...]\n",
                     argc > 0 && argv[0] != nullptr ? argv[0] : "zoaddon_loader");
        return 1;
    }

    ZoAddOn addon(path);
    if (!addon.InitCheck()) {
        const char* why = addon.Error();
        std::fprintf(stderr, "cannot load %s: %s\n", path,
                     why != nullptr ? why : "no reason given");
        return 1;
    }

    std::printf("add-on %s\n", path);
    Show("name", addon.GetName());
    Show("about", addon.GetDescription());
    Show("version", addon.GetVersion());
    Show("built", addon.GetDate());
    Show("target", addon.GetTarget());
    Show("author", addon.GetAuthor());
    Show("copyright", addon.GetCopyright());

    // Init's result means what the add-on says it means; this one answers 1.
    char* greeting = args.Value("greeting", 1);
    if (addon.Init(greeting) != 1) {
        std::fprintf(stderr, "the add-on refused to start\n");
        return 1;
    }

    // Anything beyond the contract is looked up by name and cast to the type
    // the add-on documents.
    auto greet = reinterpret_cast<bool (*)(const char*)>(addon.Find("greet"));
    bool ok = greet != nullptr;
    if (!ok) std::fprintf(stderr, "no greet(): %s\n", addon.Error());
    int names = args.Count("_left");
    for (int i = 1; ok && i <= names; i++) {
        const char* name = args.Value("_left", i);
        if (name != nullptr) ok = greet(name);  // "--" alone leaves no names
    }
    if (ok && names == 0) ok = greet("world");

    addon.Uninit(nullptr);
    return ok ? 0 : 1;
}
