// An example add-on: a greeter that an application loads at run time.
//
// An add-on is an ordinary shared object. The application finds its
// description and its Init/Uninit through fixed symbol names; the macros of
// <zolib/app/AddOnExport.h> give each function its exact name and export it.
// Anything else the add-on offers is exported under a plain C name and found
// by the application with ZoAddOn::Find (here: `greet`).
//
// Build it as a MODULE library; it needs the ZoLib headers but not libzolib.
#include <zolib/app/AddOnExport.h>

#include <cstdio>

namespace {

// The add-on's own state. Set up by Init, released by Uninit: the application
// decides when, and the add-on is unloaded without Uninit if the application
// forgets it, so keep nothing here that must be released.
const char* greeting = nullptr;

}  // namespace

// The description. Texts must outlive every call: literals are simplest.
ZOLIB_ADDON_NAME("greeter");
ZOLIB_ADDON_DESCRIPTION("prints a greeting for each name it is given");
ZOLIB_ADDON_VERSION("1.0");
ZOLIB_ADDON_DATE(__DATE__ " " __TIME__);
ZOLIB_ADDON_TARGET("x86_64-linux-gnu");
ZOLIB_ADDON_AUTHOR("ZoLib examples");
ZOLIB_ADDON_COPYRIGHT("public domain");

// `data` is whatever the application passes to ZoAddOn::Init; here an
// optional greeting text. The result goes back to the application unchanged:
// this add-on answers 1 for "ready".
ZOLIB_ADDON_INIT(data) {
    greeting = data != nullptr ? static_cast<const char*>(data) : "Hello";
    return 1;
}

ZOLIB_ADDON_UNINIT(data) {
    (void)data;
    greeting = nullptr;
    return 1;
}

// The add-on's real service, found by name. Returns false before Init.
extern "C" __attribute__((visibility("default"))) bool greet(const char* name) {
    if (greeting == nullptr || name == nullptr) return false;
    std::printf("%s, %s!\n", greeting, name);
    return true;
}
