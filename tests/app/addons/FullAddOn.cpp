// Test add-on with the whole contract and one symbol of its own. Init and
// Uninit take a counter: Init adds 1 to it and Uninit 100 (also to the counter
// of the last Init, whatever Uninit is given), and each returns the new count;
// a null counter is answered with -1 (Init) or -2 (Uninit).
#include <zolib/app/AddOnExport.h>

namespace {

int* last = nullptr;  // the counter of the last Init

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
    last = static_cast<int*>(data);
    return *last += 1;
}

ZOLIB_ADDON_UNINIT(data) {
    if (last != nullptr) *last += 100;
    return data == nullptr ? -2 : *static_cast<int*>(data);
}
