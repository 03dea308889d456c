// ZoAddOn with two real add-ons built by the tests (paths from the build):
// one with the whole contract, one with the name only.
#include <zolib/app/AddOn.h>
#include <zolib/fs/Entry.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>

#include "addons/Probe.h"

namespace {

const char* const FULL = ZO_TEST_ADDON_FULL;

TEST(AddOnContract, GettersHooksAndFindReachTheirOwnSymbols) {
    ZoEntry entry(FULL);
    ZoAddOn addon(&entry);
    ASSERT_TRUE(addon.InitCheck()) << addon.Error();
    const std::pair<char* (ZoAddOn::*)(), const char*> texts[] = {
        {&ZoAddOn::GetName, "full"},
        {&ZoAddOn::GetDescription, "exports the whole add-on contract"},
        {&ZoAddOn::GetVersion, "2.1"},
        {&ZoAddOn::GetDate, "Mon Mar  2 10:00:00 UTC 2026"},
        {&ZoAddOn::GetTarget, "x86_64-linux"},
        {&ZoAddOn::GetAuthor, "the ZoLib tests"},
        {&ZoAddOn::GetCopyright, "public domain"}};
    for (const auto& [get, text] : texts)
        EXPECT_STREQ((addon.*get)(), text);
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
    AddOnProbe probe;
    probe.answer = -123456;
    EXPECT_EQ(addon.Init(&probe), -123456);
    EXPECT_EQ(addon.Uninit(&probe), -123455);
    EXPECT_EQ(probe.inits * 10 + probe.uninits, 11);
    EXPECT_EQ(addon.Init(nullptr), -1);
    EXPECT_EQ(addon.Uninit(nullptr), -2);
    // An add-on with the name only: the other getters give null (and an
    // error), the missing hooks 0.
    ZoAddOn nameOnly(ZO_TEST_ADDON_NAME_ONLY);
    ASSERT_TRUE(nameOnly.InitCheck()) << nameOnly.Error();
    EXPECT_STREQ(nameOnly.GetName(), "name only");
    EXPECT_EQ(nameOnly.GetVersion(), nullptr);
    EXPECT_NE(nameOnly.Error(), nullptr);
    EXPECT_EQ(nameOnly.GetDescription(), nullptr);
    EXPECT_EQ(nameOnly.Init(&probe), 0);
    EXPECT_EQ(nameOnly.Uninit(&probe), 0);
    EXPECT_EQ(probe.inits * 10 + probe.uninits, 11);
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
    EXPECT_EQ(dlopen(FULL, RTLD_LAZY | RTLD_NOLOAD), nullptr);
}

TEST(AddOnFailure, FailedObjectsAreInert) {
    // With the full add-on loaded globally its symbols are visible process
    // wide; a failed object must still not find them (null and "" would give
    // the program itself to the loader).
    void* global = dlopen(FULL, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(global, nullptr);
    const char *missing = "/nonexistent/zolib/addon.so", *junk = "/dev/null";
    for (const char* path : {missing, junk, static_cast<const char*>(nullptr), ""}) {
        ZoAddOn addon(path);
        const char* error = addon.Error();  // the loader's reason, naming a missing file
        bool says = error != nullptr && strstr(error, path == missing ? missing : "") != nullptr;
        EXPECT_EQ(says, path == missing || path == junk) << error;
        EXPECT_EQ(addon.Error(), nullptr);
        EXPECT_FALSE(addon.InitCheck());
        EXPECT_EQ(addon.GetName(), nullptr);
        EXPECT_EQ(addon.Find("zo_test_twice"), nullptr);
        EXPECT_EQ(addon.Init(&global) + addon.Uninit(&global), 0);
    }
    EXPECT_FALSE(ZoAddOn(static_cast<ZoEntry*>(nullptr)).InitCheck());
    dlclose(global);
}

}  // namespace
