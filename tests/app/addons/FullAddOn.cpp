// Test add-on with the whole contract and one symbol of its own. Init and
// Uninit count the calls on the probe they are given and answer from it; a
// null probe is answered with -1 (Init) or -2 (Uninit).
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

ZOLIB_ADDON_INIT(data) {
    if (data == nullptr) return -1;
    probe = static_cast<AddOnProbe*>(data);
    probe->inits++;
    return probe->answer;
}

ZOLIB_ADDON_UNINIT(data) {
    if (data == nullptr) return -2;
    static_cast<AddOnProbe*>(data)->uninits++;
    return static_cast<AddOnProbe*>(data)->answer + 1;
}
