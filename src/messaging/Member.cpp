#include <zolib/messaging/Member.h>

#include "internal/Unwind.h"

#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr const char* kRegistryName = "/ZgB";
constexpr int kEntries = 255;

// The registry as it lies in the segment's user area.
struct Registry {
    uint16_t count;  // kept beside the table, never recomputed from it
    uint16_t unused;
    T_App apps[kEntries];
};

static_assert(sizeof(T_App) == 28, "entry size is part of the shared layout");
static_assert(offsetof(Registry, apps) == 4, "table offset is part of the shared layout");
static_assert(sizeof(Registry) == 7144, "registry size is part of the shared layout");

// The bag's plain flat form in a malloc'ed block; null when it cannot be made.
char* FlattenPlain(ZoBag* bag, unsigned long* length) {
    *length = bag->FlatSize(false);
    char* block = static_cast<char*>(std::malloc(*length));
    if (block != nullptr && !bag->Flatten(block, length, false)) {
        std::free(block);
        return nullptr;
    }
    *length = bag->FlatSize(false);
    return block;
}

// At most 23 characters, the rest of the field zeroed: the name always ends
// in a NUL and never reaches into the next entry.
void StoreName(T_App* app, const char* name) {
    std::memset(app->name, 0, sizeof(app->name));
    if (name) std::strncpy(app->name, name, sizeof(app->name) - 1);
}

}  // namespace

ZoMember::ZoMember(const char* name, T_Member_Class memberClass)
    : valid(true), pid(getpid()), memory(nullptr), memberClass(memberClass) {
    ZoNoCancel hold;  // as the segment's: whole, or nothing registered
    if (memberClass != MEMBER_APP && memberClass != MEMBER_OBSERVER) return;
    // Without memory for the segment object the member is invalid, like one
    // whose segment cannot be opened.
    memory = new (std::nothrow) ZoShMemory(kRegistryName, sizeof(Registry));
    if (memory == nullptr || !memory->InitCheck()) {
        valid = false;
        return;
    }
    if (memberClass == MEMBER_OBSERVER) return;

    // The creator registers like everyone else: a new segment's table is
    // already zero, and clearing it here would erase an application that
    // registered between the segment's appearance and this lock.
    if (!memory->Lock()) {
        valid = false;
        return;
    }
    Registry* registry = static_cast<Registry*>(memory->Address());
    T_App* entry = nullptr;
    if (registry->count < kEntries) {
        for (int i = 0; i < kEntries && !entry; i++)
            if (registry->apps[i].pid == 0) entry = &registry->apps[i];
    }
    if (entry) {
        registry->count++;
        entry->pid = pid;
        StoreName(entry, name);
    } else {
        valid = false;
    }
    memory->Unlock();
}

ZoMember::~ZoMember() {
    ZoNoCancel hold;
    if (valid && memberClass == MEMBER_APP && memory->Lock()) {
        Registry* registry = static_cast<Registry*>(memory->Address());
        for (int i = 0; i < kEntries; i++) {
            if (registry->apps[i].pid == pid) {
                registry->apps[i].pid = 0;
                if (registry->count > 0) registry->count--;
                break;
            }
        }
        memory->Unlock();
    }
    delete memory;
}

bool ZoMember::InitCheck() {
    if (!memory) return valid;
    return valid && memory->InitCheck();
}

ZoList* ZoMember::ListApps() {
    if (!memory) return nullptr;
    // A list that cannot hold every entry would leave applications out:
    // null instead.
    ZoList* list = new (std::nothrow) ZoList(10, 10);
    if (list == nullptr || !memory->Lock()) return list;
    Registry* registry = static_cast<Registry*>(memory->Address());
    bool whole = true;
    for (int i = 0; i < kEntries && whole; i++)
        if (registry->apps[i].pid != 0) whole = list->AddItem(&registry->apps[i]) == 1;
    memory->Unlock();
    if (whole) return list;
    delete list;
    return nullptr;
}

int ZoMember::CountApps() {
    if (!memory || !memory->Lock()) return 0;
    int count = static_cast<Registry*>(memory->Address())->count;
    memory->Unlock();
    return count;
}

int ZoMember::FindApp(const char* name) {
    if (!memory || !name || !memory->Lock()) return 0;
    Registry* registry = static_cast<Registry*>(memory->Address());
    int found = 0;
    for (int i = 0; i < kEntries && !found; i++) {
        const T_App& app = registry->apps[i];
        // The stored name is cut at 23 characters, so compare within the
        // field only: a shared table must never make us read past it.
        if (app.pid != 0 && std::strncmp(app.name, name, sizeof(app.name)) == 0) found = app.pid;
    }
    memory->Unlock();
    return found;
}

bool ZoMember::SendTo(int, const char*, unsigned int) {
    return false;
}

bool ZoMember::SendTo(int pid, ZoBag* bag) {
    if (bag == nullptr) return false;
    unsigned long length = 0;
    char* block = FlattenPlain(bag, &length);
    if (block == nullptr) return false;
    bool sent = SendTo(pid, block, static_cast<unsigned int>(length));
    std::free(block);
    return sent;
}

ZOLIB_UNWOUND bool ZoMember::Broadcast(ZoBag* bag) {
    if (!memory || bag == nullptr) return false;
    unsigned long length = 0;
    char* block = FlattenPlain(bag, &length);
    if (block == nullptr) return false;
    if (!memory->Lock()) {
        std::free(block);
        return false;
    }
    // A SendTo of a subclass may be a cancellation point: the registry must
    // not stay locked, nor the block leak, when it is one.
    ZoOnExit release([this, block] {
        memory->Unlock();
        std::free(block);
    });
    bool sent = true;
    Registry* registry = static_cast<Registry*>(memory->Address());
    for (int i = 0; i < kEntries && sent; i++) {
        int other = registry->apps[i].pid;
        if (other != 0 && other != pid)
            sent = SendTo(other, block, static_cast<unsigned int>(length));
    }
    release.Returned();
    return sent;
}
