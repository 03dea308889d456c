#include "fs/FsTestUtil.h"

namespace {

using namespace fstest;

using Owned = std::unique_ptr<ZoEntry>;

using EntryTest = TempDirTest;

std::string Parts(const ZoEntry& e) {
    return std::string(e.GetPath()) + "|" + e.GetName() + "|" + e.GetFull();
}

TEST_F(EntryTest, NamesExtensionsAndParents) {
    Enter(root);
    const std::pair<std::string, std::string> cases[] = {
        {Parts(ZoEntry("/usr/bin/ls")), "/usr/bin|ls|/usr/bin/ls"},
        {Parts(ZoEntry("/usr")), "/usr||/usr"},
        {Parts(ZoEntry("/", "b")), "/|b|//b"},
        {Parts(ZoEntry(std::make_unique<ZoEntry>("/a/b").get())), "/a|b|/a/b"},
        {Parts(ZoEntry("x/")), root + "|x|" + root + "/x/"},
        {Parts(ZoEntry(static_cast<const char*>(nullptr))), "||"}};
    for (const auto& c : cases)
        EXPECT_EQ(c.first, c.second);
    for (auto c : {std::pair<const char*, const char*>{"/d/archive.tar.gz", "gz"},
                   {"/d/.profile", "profile"},
                   {"/d/README", nullptr}})
        EXPECT_STREQ(ZoEntry(c.first).GetExt(), c.second) << c.first;
    std::unique_ptr<ZoDirectory> p(ZoEntry(At("a/f").c_str()).Parent());
    EXPECT_EQ(Parts(*p), root + "|a|" + At("a"));
    Enter("/usr");  // rel2full has no answer for ".." at the top; the entry takes the root
    EXPECT_EQ(Parts(ZoEntry("..")), "/||/");
    // An entry that names nothing keeps its actions harmless.
    ZoEntry none(static_cast<const char*>(nullptr));
    EXPECT_FALSE(none.Exists() || none.Remove(false) || none.Touch() || none.Rename("g") ||
                 none.SoftLink(root.c_str(), "l") || none.Copy(root.c_str(), "c", false));
    EXPECT_EQ(Owned(none.Original()), nullptr);
}

TEST_F(EntryTest, FlavorAndIdentity) {
    Dir("dir");
    File("file", "x");
    File("other", "y");
    Link(At("file"), "link");
    ASSERT_EQ(link(At("file").c_str(), At("hard").c_str()), 0);
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0644), 0);
    const std::pair<std::string, int> cases[] = {{At("dir"), FLAVOR_DIRECTORY},
                                                 {At("link"), FLAVOR_FILE},
                                                 {At("fifo"), FLAVOR_FIFO},
                                                 {"/dev/null", FLAVOR_CHAR_DEVICE},
                                                 {At("missing"), FLAVOR_NONE}};
    for (const auto& c : cases)
        EXPECT_EQ(ZoEntry(c.first.c_str()).Flavor(), c.second) << c.first;
    ZoEntry a(At("file").c_str()), b(At("hard").c_str()), c(At("other").c_str());
    ASSERT_TRUE(a.Exists() && b.Exists() && c.Exists());
    struct stat st {};
    EXPECT_TRUE(a == &b && a != &c && a != nullptr && a.GetStat(&st) && st.st_size == 1);
}

TEST_F(EntryTest, ChangedComparesWholeTimesTouchSetsOnlyTheModification) {
    File("f", "one");
    Age("f");
    ZoEntry e(At("f").c_str());
    int err = 99;
    EXPECT_FALSE(e.Changed(&err));  // the first call only records
    EXPECT_EQ(err, 0);
    Age("f", 100);  // a sub-second move counts
    EXPECT_TRUE(e.Changed(&err));
    EXPECT_FALSE(e.Changed(&err));  // recorded: reported once
    time_t before = time(nullptr);
    ASSERT_TRUE(e.Touch());
    struct stat st;
    ASSERT_EQ(stat(At("f").c_str(), &st), 0);
    EXPECT_EQ(int64_t{st.st_atim.tv_sec} * 1000000000 + st.st_atim.tv_nsec,
              INT64_C(1000000000000000100));
    EXPECT_GE(st.st_mtim.tv_sec, before - 1);
    EXPECT_TRUE(e.Changed(&err));
    ASSERT_EQ(unlink(At("f").c_str()), 0);
    EXPECT_TRUE(e.Changed(&err));
    EXPECT_EQ(err, -1);
    EXPECT_TRUE(ZoEntry(At("new").c_str()).Touch() && Present(At("new")));
    Link(At("elsewhere"), "dangling");  // nothing is made at a dangling link's target
    EXPECT_FALSE(ZoEntry(At("dangling").c_str()).Touch());
    EXPECT_FALSE(Present(At("elsewhere")));
}

// Rename and Move take the entry along (only its full path follows); links
// are made against the current directory or a given one; Original() reads
// a link's text, relative to the link's directory.
TEST_F(EntryTest, RenameMoveLinkAndOriginal) {
    Dir("links");
    File("target", "x");
    ZoEntry e(At("target").c_str());
    Enter(At("links"));
    ASSERT_TRUE(e.SoftLink("lnk"));  // relative: against the current directory
    EXPECT_EQ(LinkText(At("links/lnk")), At("target"));
    EXPECT_FALSE(e.SoftLink("lnk") || e.SoftLink(nullptr));
    ASSERT_TRUE(e.HardLink(root.c_str(), "hard"));
    EXPECT_EQ(ReadFile(At("hard")), "x");
    ASSERT_TRUE(e.Rename("renamed"));
    EXPECT_EQ(Parts(e), root + "|target|" + At("renamed"));
    EXPECT_FALSE(e.Rename("") || e.Rename(nullptr));
    ZoEntry moving(At("renamed").c_str());
    ASSERT_TRUE(moving.Move(At("links").c_str()));
    EXPECT_EQ(Parts(moving), root + "|renamed|" + At("links/renamed"));
    EXPECT_FALSE(moving.Move(At("nowhere").c_str()) || moving.Move(nullptr));
    std::string longText = "/" + std::string(150, 'p') + "/" + std::string(200, 'q');
    Link(longText, "long");  // longer than the first buffer
    EXPECT_EQ(Owned(ZoEntry(At("long").c_str()).Original())->GetFull(), longText);
    // A relative text counts from the link's directory, not the current one.
    Link("sub/t", "links/rel");
    EXPECT_EQ(Owned(ZoEntry(At("links/rel").c_str()).Original())->GetFull(), At("links/sub/t"));
    EXPECT_TRUE(ZoEntry(At("links/lnk").c_str()).Remove(false) && Present(At("hard")));
    EXPECT_TRUE(moving.Remove(false) && !moving.Remove(false));
}

}  // namespace
