// Test add-on with the whole contract and two symbols of its own.
#include <zolib/app/AddOnExport.h>

#include "Probe.h"

namespace {

// The probe of the last Init, told about the unload. Plain static data: the
// add-on must stay unloadable (no unique symbols that pin it in memory).
AddOnProbe* probe = nullptr;

__attribute__((destructor)) void OnUnload() {
    if (probe != nullptr) probe->unloaded = true;
}

}  // namespace

extern "C" {
__attribute__((visibility("default"))) void* zo_test_last_data = nullptr;
}

extern "C" __attribute__((visibility("default"))) int zo_test_twice(int n) {
    return 2 * n;
}

ZOLIB_ADDON_NAME("full");
ZOLIB_ADDON_DESCRIPTION("exports the whole add-on contract");
ZOLIB_ADDON_VERSION("2.1");
ZOLIB_ADDON_DATE("Mon Mar  2 10:00:00 UTC 2026");
ZOLIB_ADDON_TARGET("x86_64-linux");
ZOLIB_ADDON_AUTHOR("the ZoLib tests");
ZOLIB_ADDON_COPYRIGHT("public domain");

// A null data pointer is answered with -1 (Init) or -2 (Uninit), so a test
// can tell that null went through unchanged.
ZOLIB_ADDON_INIT(data) {
    zo_test_last_data = data;
    if (data == nullptr) return -1;
    probe = static_cast<AddOnProbe*>(data);
    probe->inits++;
    return probe->answer;
}

ZOLIB_ADDON_UNINIT(data) {
    zo_test_last_data = data;
    if (data == nullptr) return -2;
    AddOnProbe* p = static_cast<AddOnProbe*>(data);
    p->uninits++;
    return p->answer + 1;
}
