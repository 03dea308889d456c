#include <zolib/app/AddOn.h>
#include <zolib/fs/Entry.h>

#include <zolib/app/AddOnExport.h>

#include <dlfcn.h>

namespace {

// The contract's signatures on this host.
using TextFunction = char* (*)();
using HookFunction = int (*)(void*);

}  // namespace

ZoAddOn::ZoAddOn(const char* path) : handle(nullptr) {
    if (path != nullptr && path[0] != '\0') handle = dlopen(path, RTLD_LAZY);
}

ZoAddOn::ZoAddOn(ZoEntry* entry) : ZoAddOn(entry != nullptr ? entry->GetFull() : nullptr) {}

ZoAddOn::~ZoAddOn() {
    if (handle != nullptr) dlclose(handle);
}

bool ZoAddOn::InitCheck() {
    return handle != nullptr;
}

char* ZoAddOn::Error() {
    return dlerror();
}

void* ZoAddOn::Find(const char* symbol) {
    // A null handle is RTLD_DEFAULT to glibc: dlsym would search the whole
    // process and could find another library's contract functions.
    if (handle == nullptr || symbol == nullptr) return nullptr;
    return dlsym(handle, symbol);
}

char* ZoAddOn::Text(const char* symbol) {
    auto function = reinterpret_cast<TextFunction>(Find(symbol));
    return function != nullptr ? function() : nullptr;
}

char* ZoAddOn::GetName() {
    return Text(ZOLIB_ADDON_SYM_NAME);
}
char* ZoAddOn::GetDescription() {
    return Text(ZOLIB_ADDON_SYM_DESCRIPTION);
}
char* ZoAddOn::GetVersion() {
    return Text(ZOLIB_ADDON_SYM_VERSION);
}
char* ZoAddOn::GetDate() {
    return Text(ZOLIB_ADDON_SYM_DATE);
}
char* ZoAddOn::GetTarget() {
    return Text(ZOLIB_ADDON_SYM_TARGET);
}
char* ZoAddOn::GetAuthor() {
    return Text(ZOLIB_ADDON_SYM_AUTHOR);
}
char* ZoAddOn::GetCopyright() {
    return Text(ZOLIB_ADDON_SYM_COPYRIGHT);
}

int ZoAddOn::Init(void* data) {
    auto function = reinterpret_cast<HookFunction>(Find(ZOLIB_ADDON_SYM_INIT));
    return function != nullptr ? function(data) : 0;
}

int ZoAddOn::Uninit(void* data) {
    auto function = reinterpret_cast<HookFunction>(Find(ZOLIB_ADDON_SYM_UNINIT));
    return function != nullptr ? function(data) : 0;
}
