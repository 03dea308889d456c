#include <zolib/app/AddOn.h>
#include <zolib/fs/Entry.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "addons/Probe.h"

// The test add-ons' paths come from the build (ZO_TEST_ADDON_FULL and
// ZO_TEST_ADDON_NAME_ONLY), so the tests run from any directory.

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

// ---- a complete add-on ----

TEST(AddOnContract, FullAddOnAnswersEveryText) {
    ZoAddOn addon(FULL);
    ASSERT_TRUE(addon.InitCheck()) << addon.Error();
    EXPECT_STREQ(addon.GetName(), "full");
    EXPECT_STREQ(addon.GetDescription(), "exports the whole add-on contract");
    EXPECT_STREQ(addon.GetVersion(), "2.1");
    EXPECT_STREQ(addon.GetDate(), "Mon Mar  2 10:00:00 UTC 2026");
    EXPECT_STREQ(addon.GetTarget(), "x86_64-linux");
    EXPECT_STREQ(addon.GetAuthor(), "the ZoLib tests");
    EXPECT_STREQ(addon.GetCopyright(), "public domain");
}

TEST(AddOnContract, ContractSymbolsHaveTheirExactNames) {
    ZoAddOn addon(FULL);
    ASSERT_TRUE(addon.InitCheck());
    for (const char* symbol : {"_AddOn_Name__Fv", "_AddOn_Description__Fv", "_AddOn_Version__Fv",
                               "_AddOn_Date__Fv", "_AddOn_Target__Fv", "_AddOn_Author__Fv",
                               "_AddOn_Copyright__Fv", "_AddOn_Init__FPv", "_AddOn_Uninit__FPv"})
        EXPECT_NE(addon.Find(symbol), nullptr) << symbol;
}

TEST(AddOnContract, LoadsThroughAnEntry) {
    ZoEntry entry(FULL);
    ZoAddOn addon(&entry);
    ASSERT_TRUE(addon.InitCheck()) << addon.Error();
    EXPECT_STREQ(addon.GetName(), "full");
    ZoAddOn none(static_cast<ZoEntry*>(nullptr));
    EXPECT_FALSE(none.InitCheck());
}

TEST(AddOnFind, AnyExportedSymbol) {
    ZoAddOn addon(FULL);
    ASSERT_TRUE(addon.InitCheck());
    auto twice = reinterpret_cast<int (*)(int)>(addon.Find("zo_test_twice"));
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice(21), 42);
    EXPECT_NE(addon.Find("zo_test_last_data"), nullptr);
}

TEST(AddOnFind, MissingSymbolLeavesAnErrorOnce) {
    ZoAddOn addon(FULL);
    ASSERT_TRUE(addon.InitCheck());
    addon.Error();  // start clean
    EXPECT_EQ(addon.Find("no_such_symbol"), nullptr);
    const char* error = addon.Error();
    ASSERT_NE(error, nullptr);
    EXPECT_NE(strstr(error, "no_such_symbol"), nullptr) << error;
    EXPECT_EQ(addon.Error(), nullptr);  // reading cleared it
    EXPECT_EQ(addon.Find(nullptr), nullptr);
}

// ---- Init and Uninit ----

TEST(AddOnHooks, InitAndUninitPassDataAndResultsThrough) {
    ZoAddOn addon(FULL);
    ASSERT_TRUE(addon.InitCheck());
    void** last = static_cast<void**>(addon.Find("zo_test_last_data"));
    ASSERT_NE(last, nullptr);

    AddOnProbe probe;
    probe.answer = -123456;
    EXPECT_EQ(addon.Init(&probe), -123456);
    EXPECT_EQ(*last, &probe);
    EXPECT_EQ(probe.inits, 1);
    EXPECT_EQ(addon.Uninit(&probe), -123455);
    EXPECT_EQ(probe.uninits, 1);

    probe.answer = 0x7fffffff - 1;
    EXPECT_EQ(addon.Init(&probe), 0x7fffffff - 1);

    EXPECT_EQ(addon.Init(nullptr), -1);
    EXPECT_EQ(*last, nullptr);
    EXPECT_EQ(addon.Uninit(nullptr), -2);
}

// ---- unloading ----

TEST(AddOnUnload, DeletingUnloadsWithoutUninit) {
    AddOnProbe probe;
    auto* addon = new ZoAddOn(FULL);
    ASSERT_TRUE(addon->InitCheck());
    EXPECT_TRUE(Loaded(FULL));
    addon->Init(&probe);
    delete addon;
    EXPECT_TRUE(probe.unloaded);
    EXPECT_EQ(probe.uninits, 0);
    EXPECT_FALSE(Loaded(FULL));
}

TEST(AddOnUnload, TwoObjectsShareOneLoad) {
    AddOnProbe probe;
    auto* first = new ZoAddOn(FULL);
    ZoAddOn second(FULL);
    ASSERT_TRUE(first->InitCheck());
    ASSERT_TRUE(second.InitCheck());
    first->Init(&probe);
    delete first;
    EXPECT_FALSE(probe.unloaded);
    EXPECT_STREQ(second.GetName(), "full");
}

// ---- an add-on with part of the contract ----

TEST(AddOnPartial, OnlyTheNameIsExported) {
    ZoAddOn addon(NAME_ONLY);
    ASSERT_TRUE(addon.InitCheck()) << addon.Error();
    EXPECT_STREQ(addon.GetName(), "name only");
    addon.Error();
    EXPECT_EQ(addon.GetVersion(), nullptr);
    EXPECT_NE(addon.Error(), nullptr);  // the failed lookup is reported
    EXPECT_EQ(addon.GetDescription(), nullptr);
    EXPECT_EQ(addon.GetDate(), nullptr);
    EXPECT_EQ(addon.GetTarget(), nullptr);
    EXPECT_EQ(addon.GetAuthor(), nullptr);
    EXPECT_EQ(addon.GetCopyright(), nullptr);
    AddOnProbe probe;
    EXPECT_EQ(addon.Init(&probe), 0);
    EXPECT_EQ(addon.Uninit(&probe), 0);
    EXPECT_EQ(probe.inits + probe.uninits, 0);
}

// ---- loading failures ----

void ExpectInert(ZoAddOn& addon) {
    AddOnProbe probe;
    EXPECT_FALSE(addon.InitCheck());
    EXPECT_EQ(addon.GetName(), nullptr);
    EXPECT_EQ(addon.GetCopyright(), nullptr);
    EXPECT_EQ(addon.Find("zo_test_twice"), nullptr);
    EXPECT_EQ(addon.Init(&probe), 0);
    EXPECT_EQ(addon.Uninit(&probe), 0);
}

TEST(AddOnFailure, MissingFileIsReported) {
    const char* path = "/nonexistent/zolib/addon.so";
    ZoAddOn addon(path);
    const char* error = addon.Error();
    ASSERT_NE(error, nullptr);
    EXPECT_NE(strstr(error, path), nullptr) << error;
    EXPECT_EQ(addon.Error(), nullptr);
    ExpectInert(addon);
}

TEST(AddOnFailure, FileThatIsNoSharedObject) {
    std::string path = testing::TempDir() + "zolib_addon_XXXXXX";
    int fd = mkstemp(path.data());
    ASSERT_GE(fd, 0);
    const char junk[] = "not an add-on\n";
    ASSERT_EQ(write(fd, junk, sizeof junk), static_cast<ssize_t>(sizeof junk));
    close(fd);
    {
        ZoAddOn addon(path.c_str());
        EXPECT_NE(addon.Error(), nullptr);
        ExpectInert(addon);
    }
    unlink(path.c_str());
}

TEST(AddOnFailure, NullOrEmptyPathLoadsNothing) {
    // The loader would give the program itself for both.
    ZoAddOn none(static_cast<const char*>(nullptr));
    ExpectInert(none);
    ZoAddOn empty("");
    ExpectInert(empty);
}

TEST(AddOnFailure, FailedObjectDoesNotSearchTheProcess) {
    // With the full add-on loaded globally, its symbols are visible process
    // wide; an object that failed to load must still not find them.
    void* global = dlopen(FULL, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(global, nullptr);
    ZoAddOn failed("/nonexistent/zolib/addon.so");
    ExpectInert(failed);
    dlclose(global);
}

}  // namespace
