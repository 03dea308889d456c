#include <zolib/fs/Directory.h>
#include <zolib/fs/Entry.h>

#include "fs/FsTestUtil.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <memory>
#include <string>

namespace {

using Owned = std::unique_ptr<ZoEntry>;

class EntryTest : public fstest::TempDirTest {
  protected:
    // Sets both times to a fixed past instant, so later changes are seen
    // whatever the file system's timestamp granularity.
    void Age(const std::string& rel, long nsec = 0) const {
        struct timespec t[2] = {{1000000000, nsec}, {1000000000, nsec}};
        ASSERT_EQ(utimensat(AT_FDCWD, At(rel).c_str(), t, 0), 0);
    }
};

void ExpectNames(const ZoEntry& e, const std::string& path, const std::string& name,
                 const std::string& full) {
    EXPECT_EQ(e.GetPath(), path);
    EXPECT_EQ(e.GetName(), name);
    EXPECT_EQ(e.GetFull(), full);
}

TEST_F(EntryTest, Construction) {
    ExpectNames(ZoEntry("/usr/bin/ls"), "/usr/bin", "ls", "/usr/bin/ls");
    ExpectNames(ZoEntry("/usr"), "/usr", "", "/usr");
    ExpectNames(ZoEntry("/", "b"), "/", "b", "//b");
    ZoEntry other("/a/b");
    ExpectNames(ZoEntry(&other), "/a", "b", "/a/b");
    Enter(root);
    ExpectNames(ZoEntry("x/"), root, "x", root + "/x/");
    // rel2full has no answer for ".." at the top; the entry takes the root.
    Enter("/usr");
    ExpectNames(ZoEntry(".."), "/", "", "/");
    ExpectNames(ZoEntry("../etc"), "/etc", "", "/etc");
}

// An entry that names nothing keeps its getters usable and its actions harmless.
TEST_F(EntryTest, NullArgumentsNameNothing) {
    Enter(root);
    const char* none = nullptr;
    ZoEntry a(none), b(none, "f"), c(static_cast<const ZoEntry*>(nullptr));
    for (ZoEntry* e : {&a, &b, &c}) {
        ExpectNames(*e, "", "", "");
        EXPECT_FALSE(e->Exists() || e->Remove(false) || e->Touch() || e->Rename("g") ||
                     e->SoftLink(root.c_str(), "l") || e->Copy(root.c_str(), "c", false));
        EXPECT_EQ(Owned(e->Original()), nullptr);
        EXPECT_STREQ(std::unique_ptr<ZoDirectory>(e->Parent())->GetFull(), "");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(root), {}), 0);
}

TEST(EntryNames, Extension) {
    EXPECT_STREQ(ZoEntry("/d/archive.tar.gz").GetExt(), "gz");
    EXPECT_EQ(ZoEntry("/d/README").GetExt(), nullptr);
    EXPECT_STREQ(ZoEntry("/d/.profile").GetExt(), "profile");
    EXPECT_STREQ(ZoEntry("/d/name.").GetExt(), "");
}

TEST_F(EntryTest, FlavorAndIdentity) {
    Dir("dir");
    File("file", "x");
    File("other", "y");
    Link(At("file"), "link");
    ASSERT_EQ(link(At("file").c_str(), At("hard").c_str()), 0);
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0644), 0);
    EXPECT_EQ(ZoEntry(At("dir").c_str()).Flavor(), FLAVOR_DIRECTORY);
    EXPECT_EQ(ZoEntry(At("file").c_str()).Flavor(), FLAVOR_FILE);
    EXPECT_EQ(ZoEntry(At("link").c_str()).Flavor(), FLAVOR_FILE);
    EXPECT_EQ(ZoEntry(At("fifo").c_str()).Flavor(), FLAVOR_FIFO);
    EXPECT_EQ(ZoEntry("/dev/null").Flavor(), FLAVOR_CHAR_DEVICE);
    EXPECT_EQ(ZoEntry(At("missing").c_str()).Flavor(), FLAVOR_NONE);
    int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string socketPath = At("socket");
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(ZoEntry(socketPath.c_str()).Flavor(), FLAVOR_SOCKET);
    close(listener);

    struct stat st {};
    EXPECT_TRUE(ZoEntry(At("file").c_str()).GetStat(&st));
    EXPECT_EQ(st.st_size, 1);
    EXPECT_FALSE(ZoEntry(At("file").c_str()).GetStat(nullptr));
    EXPECT_FALSE(ZoEntry(At("missing").c_str()).GetStat(&st));

    ZoEntry a(At("file").c_str()), b(At("hard").c_str()), c(At("other").c_str());
    ASSERT_TRUE(a.Exists() && b.Exists() && c.Exists());
    EXPECT_TRUE(a == &b);
    EXPECT_TRUE(a != &c);
    EXPECT_TRUE(a != nullptr);
    EXPECT_FALSE(ZoEntry(At("missing").c_str()).Exists());
}

TEST_F(EntryTest, ChangedPollsTimes) {
    File("f", "one");
    Age("f");
    ZoEntry e(At("f").c_str());
    int err = 99;
    EXPECT_FALSE(e.Changed(&err));  // the first call only records
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(e.Changed(&err));
    fstest::WriteFile(At("f"), "two");
    EXPECT_TRUE(e.Changed(&err));
    EXPECT_EQ(err, 0);
    EXPECT_FALSE(e.Changed(&err));  // recorded: reported once
    // Sub-second moves count: times are compared whole.
    Age("f", 100);
    EXPECT_TRUE(e.Changed(&err));
    Age("f", 200);
    EXPECT_TRUE(e.Changed(&err));
    ASSERT_EQ(unlink(At("f").c_str()), 0);
    EXPECT_TRUE(e.Changed(&err));
    EXPECT_EQ(err, -1);
    EXPECT_TRUE(e.Changed(nullptr));
}

TEST_F(EntryTest, RenameAndMoveChangeOnlyFull) {
    Dir("dest");
    File("a", "data");
    ZoEntry e(At("a").c_str());
    ASSERT_TRUE(e.Rename("b"));
    ExpectNames(e, root, "a", At("b"));
    EXPECT_EQ(fstest::ReadFile(At("b")), "data");
    EXPECT_FALSE(e.Rename("") || e.Rename(nullptr));

    ZoEntry f(At("b").c_str());
    ASSERT_TRUE(f.Move(At("dest").c_str()));
    ExpectNames(f, root, "b", At("dest/b"));
    EXPECT_FALSE(f.Move(At("nowhere").c_str()) || f.Move("") || f.Move(nullptr));
    EXPECT_EQ(f.GetFull(), At("dest/b"));  // failures change nothing
    // Without a name (a top-level path) the target would be dest itself.
    EXPECT_FALSE(ZoEntry("/zolib-no-such-dir").Move(At("dest").c_str()));
}

TEST_F(EntryTest, Links) {
    Dir("links");
    File("target", "x");
    ZoEntry e(At("target").c_str());
    Enter(At("links"));
    ASSERT_TRUE(e.SoftLink("lnk"));  // relative: against the current directory
    EXPECT_EQ(fstest::LinkText(At("links/lnk")), At("target"));
    ASSERT_TRUE(e.SoftLink(At("links").c_str(), nullptr));  // this entry's name
    EXPECT_EQ(fstest::LinkText(At("links/target")), At("target"));
    EXPECT_FALSE(e.SoftLink("lnk") || e.SoftLink(nullptr) || e.SoftLink(nullptr, "x"));

    ASSERT_TRUE(e.HardLink(At("hard").c_str()));
    ASSERT_TRUE(e.HardLink(root.c_str(), "hard2"));
    ZoEntry h(At("hard").c_str()), h2(At("hard2").c_str());
    ASSERT_TRUE(e.Exists() && h.Exists() && h2.Exists());
    EXPECT_TRUE(e == &h && e == &h2);
    EXPECT_EQ(fstest::LinkText(At("hard")), "");
}

TEST_F(EntryTest, Touch) {
    ASSERT_TRUE(ZoEntry(At("new").c_str()).Touch());
    EXPECT_TRUE(fstest::Present(At("new")));
    EXPECT_FALSE(ZoEntry(At("nodir/new").c_str()).Touch());

    File("f", "content");
    Age("f", 123);
    time_t before = time(nullptr);
    ASSERT_TRUE(ZoEntry(At("f").c_str()).Touch());
    struct stat st;
    ASSERT_EQ(stat(At("f").c_str(), &st), 0);
    EXPECT_EQ(st.st_atim.tv_sec, 1000000000);  // access time kept exactly
    EXPECT_EQ(st.st_atim.tv_nsec, 123);
    EXPECT_GE(st.st_mtim.tv_sec, before - 1);
    EXPECT_EQ(fstest::ReadFile(At("f")), "content");

    // Nothing is created at the target of a dangling link.
    Link(At("elsewhere"), "dangling");
    EXPECT_FALSE(ZoEntry(At("dangling").c_str()).Touch());
    EXPECT_FALSE(fstest::Present(At("elsewhere")));
}

TEST_F(EntryTest, Original) {
    Link("/etc/conf", "abs");
    Owned abs(ZoEntry(At("abs").c_str()).Original());
    ASSERT_NE(abs, nullptr);
    ExpectNames(*abs, "/etc", "conf", "/etc/conf");

    std::string longText = "/" + std::string(150, 'p') + "/" + std::string(200, 'q');
    Link(longText, "long");  // longer than the first buffer
    EXPECT_EQ(Owned(ZoEntry(At("long").c_str()).Original())->GetFull(), longText);

    // A relative text counts from the link's directory, not the current one.
    Dir("d");
    Dir("d/sub");
    Link("sub/t", "d/lnk");
    Enter("/");
    EXPECT_EQ(Owned(ZoEntry(At("d/lnk").c_str()).Original())->GetFull(), At("d/sub/t"));

    File("plain");
    EXPECT_EQ(Owned(ZoEntry(At("plain").c_str()).Original()), nullptr);
}

TEST_F(EntryTest, CopyAndRemove) {
    Dir("dest");
    File("f", "new");
    File("dest/f", "old and longer");
    ZoEntry e(At("f").c_str());
    ASSERT_TRUE(e.Copy(At("dest").c_str(), nullptr, false));
    EXPECT_EQ(fstest::ReadFile(At("dest/f")), "new");
    ASSERT_TRUE(e.Copy(At("dest").c_str(), "g", false));
    EXPECT_EQ(fstest::ReadFile(At("dest/g")), "new");
    EXPECT_FALSE(e.Copy(nullptr, "g", false));

    Link(At("f"), "l");
    EXPECT_TRUE(ZoEntry(At("l").c_str()).Remove(false));
    EXPECT_TRUE(fstest::Present(At("f")));  // the link went, not its target
    EXPECT_TRUE(e.Remove(false));
    EXPECT_FALSE(e.Remove(false));
    EXPECT_FALSE(ZoEntry(At("dest").c_str()).Remove(true));  // not empty
}

TEST_F(EntryTest, Parent) {
    Dir("a");
    std::unique_ptr<ZoDirectory> p(ZoEntry(At("a/f").c_str()).Parent());
    ExpectNames(*p, root, "a", At("a"));
    EXPECT_TRUE(p->Exists());
    EXPECT_STREQ(std::unique_ptr<ZoDirectory>(ZoEntry("/usr").Parent())->GetFull(), "/usr");
    Enter(root);
    EXPECT_EQ(std::unique_ptr<ZoDirectory>(ZoEntry("", "x").Parent())->GetFull(), root);
}

}  // namespace
