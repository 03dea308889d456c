// ZoAddOn with two real add-ons built by the tests (paths from the build):
// one with the whole contract, one with the name only.
#include <zolib/app/AddOn.h>
#include <zolib/fs/Entry.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "addons/Probe.h"

namespace {

const char* const FULL = ZO_TEST_ADDON_FULL;
const char* const NAME_ONLY = ZO_TEST_ADDON_NAME_ONLY;

// Whether the dynamic loader still has the object mapped.
bool Loaded(const char* path) {
    void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (handle == nullptr) return false;
    dlclose(handle);
    return true;
}

TEST(AddOnContract, FullAddOnThroughItsExactSymbols) {
    ZoEntry entry(FULL);
    ZoAddOn addon(&entry);
    ASSERT_TRUE(addon.InitCheck()) << addon.Error();
    std::string texts[] = {addon.GetName(),     addon.GetDescription(), addon.GetVersion(),
                           addon.GetDate(),     addon.GetTarget(),      addon.GetAuthor(),
                           addon.GetCopyright()};
    EXPECT_EQ(texts[0] + "|" + texts[1] + "|" + texts[2] + "|" + texts[3] + "|" + texts[4] + "|" +
                  texts[5] + "|" + texts[6],
              "full|exports the whole add-on contract|2.1|Mon Mar  2 10:00:00 UTC 2026|"
              "x86_64-linux|the ZoLib tests|public domain");
    for (const char* symbol : {"_AddOn_Name__Fv", "_AddOn_Description__Fv", "_AddOn_Version__Fv",
                               "_AddOn_Date__Fv", "_AddOn_Target__Fv", "_AddOn_Author__Fv",
                               "_AddOn_Copyright__Fv", "_AddOn_Init__FPv", "_AddOn_Uninit__FPv"})
        EXPECT_NE(addon.Find(symbol), nullptr) << symbol;
    auto twice = reinterpret_cast<int (*)(int)>(addon.Find("zo_test_twice"));
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice(21), 42);
    // A missing symbol leaves an error naming it, read once.
    EXPECT_EQ(addon.Find("no_such_symbol"), nullptr);
    const char* error = addon.Error();
    EXPECT_NE(error != nullptr ? strstr(error, "no_such_symbol") : nullptr, nullptr);
    EXPECT_EQ(addon.Error(), nullptr);
    EXPECT_EQ(addon.Find(nullptr), nullptr);
    // Init and Uninit pass data and results through, null included.
    void** last = static_cast<void**>(addon.Find("zo_test_last_data"));
    ASSERT_NE(last, nullptr);
    AddOnProbe probe;
    probe.answer = -123456;
    EXPECT_EQ(addon.Init(&probe), -123456);
    EXPECT_EQ(*last, &probe);
    EXPECT_EQ(addon.Uninit(&probe), -123455);
    EXPECT_EQ(probe.inits * 10 + probe.uninits, 11);
    EXPECT_EQ(addon.Init(nullptr), -1);
    EXPECT_EQ(*last, nullptr);
    EXPECT_EQ(addon.Uninit(nullptr), -2);
}

TEST(AddOnContract, NameOnlyAddOnHasNoOtherHooks) {
    ZoAddOn addon(NAME_ONLY);
    ASSERT_TRUE(addon.InitCheck()) << addon.Error();
    EXPECT_STREQ(addon.GetName(), "name only");
    addon.Error();
    EXPECT_EQ(addon.GetVersion(), nullptr);
    EXPECT_NE(addon.Error(), nullptr);  // the failed lookup is reported
    EXPECT_EQ(addon.GetDescription(), nullptr);
    AddOnProbe probe;
    EXPECT_EQ(addon.Init(&probe), 0);
    EXPECT_EQ(addon.Uninit(&probe), 0);
    EXPECT_EQ(probe.inits + probe.uninits, 0);
}

TEST(AddOnUnload, LastObjectUnloadsWithoutUninit) {
    AddOnProbe probe;
    auto* first = new ZoAddOn(FULL);
    auto* second = new ZoAddOn(FULL);
    ASSERT_TRUE(first->InitCheck() && second->InitCheck());
    first->Init(&probe);
    delete first;
    EXPECT_FALSE(probe.unloaded);  // the second still holds it
    EXPECT_STREQ(second->GetName(), "full");
    delete second;
    EXPECT_TRUE(probe.unloaded);
    EXPECT_EQ(probe.uninits, 0);
    EXPECT_FALSE(Loaded(FULL));
}

TEST(AddOnFailure, FailedObjectsAreInert) {
    std::string junk = testing::TempDir() + "zolib_addon_XXXXXX";
    int fd = mkstemp(junk.data());
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "not an add-on\n", 14), 14);
    close(fd);
    // With the full add-on loaded globally its symbols are visible process
    // wide; a failed object must still not find them (null and "" would give
    // the program itself to the loader).
    void* global = dlopen(FULL, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(global, nullptr);
    const char* missing = "/nonexistent/zolib/addon.so";
    for (const char* path : {missing, junk.c_str(), static_cast<const char*>(nullptr), ""}) {
        ZoAddOn addon(path);
        const char* error = addon.Error();
        if (path == missing) {
            EXPECT_NE(error != nullptr ? strstr(error, missing) : nullptr, nullptr);
        } else if (path == junk.c_str()) {
            EXPECT_NE(error, nullptr);
        }
        EXPECT_EQ(addon.Error(), nullptr);
        AddOnProbe probe;
        EXPECT_FALSE(addon.InitCheck());
        EXPECT_EQ(addon.GetName(), nullptr);
        EXPECT_EQ(addon.GetCopyright(), nullptr);
        EXPECT_EQ(addon.Find("zo_test_twice"), nullptr);
        EXPECT_EQ(addon.Init(&probe) + addon.Uninit(&probe), 0);
    }
    ZoAddOn none(static_cast<ZoEntry*>(nullptr));
    EXPECT_FALSE(none.InitCheck());
    dlclose(global);
    unlink(junk.c_str());
}

}  // namespace
