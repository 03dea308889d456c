// ZoAddOn with two real add-ons built by the tests (paths from the build):
// one with the whole contract, one with the name only.
#include <zolib/app/AddOn.h>
#include <zolib/fs/Entry.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <memory>

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
    EXPECT_NE(addon.Find("zo_test_twice"), nullptr);
    EXPECT_EQ(addon.Find("no_such_symbol"), nullptr);
    EXPECT_NE(addon.Error(), nullptr);
    EXPECT_EQ(addon.Find(nullptr), nullptr);
    // The hooks get the data and their results come back unchanged.
    int calls = 40;
    EXPECT_EQ(addon.Init(&calls), 41);
    EXPECT_EQ(addon.Uninit(&calls), 141);
    EXPECT_EQ(addon.Init(nullptr) * 10 + addon.Uninit(nullptr), -12);
    // Without them: the getters give null, the hooks 0 and call nothing.
    ZoAddOn nameOnly(ZO_TEST_ADDON_NAME_ONLY);
    ASSERT_TRUE(nameOnly.InitCheck()) << nameOnly.Error();
    EXPECT_STREQ(nameOnly.GetName(), "name only");
    EXPECT_EQ(nameOnly.GetDescription(), nullptr);
    EXPECT_EQ(nameOnly.Init(&calls) + nameOnly.Uninit(&calls), 0);
    EXPECT_EQ(calls, 241);
}

TEST(AddOnUnload, LastObjectUnloadsWithoutUninit) {
    int calls = 0;
    auto second = std::make_unique<ZoAddOn>(FULL);
    ZoAddOn(FULL).Init(&calls);               // loaded, initialised and destroyed
    EXPECT_STREQ(second->GetName(), "full");  // the second still holds it
    second.reset();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(dlopen(FULL, RTLD_LAZY | RTLD_NOLOAD), nullptr);
}

// With the full add-on loaded globally its symbols are visible process wide; a
// failed object must still not find them (a null handle searches everything).
TEST(AddOnFailure, FailedObjectsAreInert) {
    void* global = dlopen(FULL, RTLD_NOW | RTLD_GLOBAL);
    ASSERT_NE(global, nullptr);
    const char *missing = "/nonexistent/zolib/addon.so", *junk = "/dev/null";
    for (const char* path : {missing, junk, static_cast<const char*>(nullptr), ""}) {
        ZoAddOn addon(path);
        EXPECT_EQ(addon.Error() != nullptr, path == missing || path == junk);
        EXPECT_FALSE(addon.InitCheck());
        EXPECT_EQ(addon.GetName(), nullptr);
        EXPECT_EQ(addon.Find("zo_test_twice"), nullptr);
        EXPECT_EQ(addon.Init(&global) + addon.Uninit(&global), 0);
    }
    EXPECT_FALSE(ZoAddOn(static_cast<ZoEntry*>(nullptr)).InitCheck());
    dlclose(global);
}

}  // namespace
