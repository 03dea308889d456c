#include <zolib/fs/Directory.h>

#include "fs/FsTestUtil.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>

using fstest::Present;
using fstest::ReadFile;

namespace {

using Names = std::set<std::string>;

class DirTest : public fstest::TempDirTest {
  protected:
    Names Listed(ZoDirectory& dir, int count = 0, const char* const* filters = nullptr) {
        dir.Rewind(count, filters);
        Names names;
        while (ZoEntry* e = dir.NextEntry()) {
            std::unique_ptr<ZoEntry> owned(e);
            EXPECT_EQ(e->GetPath(), std::string(dir.GetFull()));
            names.insert(e->GetName());
        }
        return names;
    }
    // Takes the list and its entries: the entries' full paths.
    static Names Found(ZoList* list) {
        Names full;
        for (long i = 0; list != nullptr && i < list->Size(); i++) {
            std::unique_ptr<ZoEntry> e(static_cast<ZoEntry*>(list->GetItem(i)));
            full.insert(e->GetFull());
        }
        delete list;
        return full;
    }
    // top/{a.txt, sub/{b.txt, deep/c.txt}, empty/}, plus outside/keep and
    // outfile beside it for links to point at.
    void MakeTree(const std::string& top) {
        Dir(top);
        File(top + "/a.txt", "A");
        Dir(top + "/sub");
        File(top + "/sub/b.txt", "B");
        Dir(top + "/sub/deep");
        File(top + "/sub/deep/c.txt", "C");
        Dir(top + "/empty");
        if (!Present(At("outside"))) {
            Dir("outside");
            File("outside/keep", "K");
            File("outfile", "F");
        }
    }
    void ExpectTree(const std::string& top) {
        EXPECT_EQ(ReadFile(At(top + "/a.txt")), "A");
        EXPECT_EQ(ReadFile(At(top + "/sub/deep/c.txt")), "C");
        EXPECT_TRUE(ZoDirectory(At(top + "/empty").c_str(), false).Exists());
    }
    void ExpectOutsideIntact() {
        EXPECT_EQ(ReadFile(At("outside/keep")), "K");
        EXPECT_EQ(ReadFile(At("outfile")), "F");
    }
};

TEST_F(DirTest, Listing) {
    File("f");
    File(".hidden");
    Dir("sub");
    Link(At("sub"), "dirlink");
    Link(At("nowhere"), "dangling");
    ZoDirectory d(root.c_str(), false);
    EXPECT_EQ(d.NextEntry(), nullptr);  // before any rewind
    d.Rewind(0, nullptr);
    int count = 0;
    while (ZoEntry* e = d.NextEntry()) {  // "." and ".." are not listed
        std::unique_ptr<ZoEntry> owned(e);
        std::string n = e->GetName();
        EXPECT_EQ(dynamic_cast<ZoDirectory*>(e) != nullptr, n == "sub" || n == "dirlink") << n;
        ZoEntry fresh(At(n).c_str());  // Exists() has run on every listed entry
        EXPECT_TRUE(!fresh.Exists() || *e == &fresh) << n;
        count++;
    }
    EXPECT_EQ(count, 5);
    EXPECT_EQ(d.NextEntry(), nullptr);  // stays at the end until a rewind
    File("g");
    EXPECT_EQ(Listed(d).size(), 6u);

    ZoDirectory missing(At("missing").c_str(), false);
    EXPECT_FALSE(missing.Exists());
    EXPECT_TRUE(Listed(missing).empty());
    Dir("missing");
    File("missing/f");
    EXPECT_EQ(Listed(missing), Names{"f"});  // a later rewind opens it
}

TEST_F(DirTest, ExtensionFilters) {
    for (const char* n : {"a.jpg", "b.png", "c.txt", ".hidden", "d", ".a.jpg", "Makefile", "x."})
        File(n);
    ZoDirectory d(root.c_str(), false);
    const char* images[] = {"jpg", "png"};
    EXPECT_EQ(Listed(d, 2, images), (Names{"a.jpg", "b.png", ".a.jpg"}));
    const char* make[] = {"Makefile"};  // a dot-less name is its own extension
    EXPECT_EQ(Listed(d, 1, make), Names{"Makefile"});
    const char* empty[] = {""};  // ".." passes (its last dot ends it); "." never
    EXPECT_EQ(Listed(d, 1, empty), (Names{"x.", ".."}));
    const char* odd[] = {"hidden", "JPG", nullptr};  // a leading dot only; case counts
    EXPECT_TRUE(Listed(d, 3, odd).empty());
    EXPECT_EQ(Listed(d, 0, images).size(), 8u);
    EXPECT_EQ(Listed(d, 2, nullptr).size(), 8u);
    char jpg[] = "jpg";
    char* mutableFilters[] = {jpg};
    EXPECT_EQ(Listed(d, 1, mutableFilters).size(), 2u);
}

TEST_F(DirTest, GetEntry) {
    Dir("sub");
    File("file");
    ZoDirectory d(root.c_str(), false);
    std::unique_ptr<ZoEntry> sub(d.GetEntry("sub")), file(d.GetEntry("file")),
        missing(d.GetEntry("missing")), none(d.GetEntry(nullptr));
    EXPECT_NE(dynamic_cast<ZoDirectory*>(sub.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ZoDirectory*>(file.get()), nullptr);
    EXPECT_EQ(file->GetFull(), At("file"));
    EXPECT_FALSE(missing->Exists());
    EXPECT_EQ(none->GetFull(), root);
    ZoEntry fresh(At("file").c_str());
    ASSERT_TRUE(fresh.Exists());
    EXPECT_TRUE(*file != &fresh);  // Exists() was not called: inode 0
}

TEST_F(DirTest, Search) {
    Dir("we*rd [d]");  // glob characters in the directory's own name
    File("we*rd [d]/a.txt");
    File("we*rd [d]/b.txt");
    File("we*rd [d]/c.log");
    Dir("we*rd [d]/sub");
    File("we*rd [d]/sub/x.c");
    Dir("weXrd d");  // what the name would match as a pattern
    File("weXrd d/e.txt");
    std::string w = At("we*rd [d]");
    ZoDirectory d(w.c_str(), false);
    std::string before = fstest::Cwd();
    EXPECT_EQ(Found(d.Search("*.txt")), (Names{w + "/a.txt", w + "/b.txt"}));
    EXPECT_EQ(Found(d.Search("s?b/*.[ch]")), Names{w + "/sub/x.c"});
    std::unique_ptr<ZoList> subs(d.Search("sub"));
    ASSERT_NE(subs, nullptr);  // directories come back as plain entries
    EXPECT_EQ(dynamic_cast<ZoDirectory*>(static_cast<ZoEntry*>(subs->GetItem(0))), nullptr);
    Found(subs.release());
    // An absolute pattern names its matches, not full + "/" + match.
    EXPECT_EQ(Found(d.Search((At("weXrd d") + "/*.txt").c_str())), Names{At("weXrd d/e.txt")});
    EXPECT_EQ(d.Search("*.none"), nullptr);
    EXPECT_EQ(d.Search(""), nullptr);
    EXPECT_EQ(d.Search(nullptr), nullptr);
    EXPECT_EQ(ZoDirectory(At("missing").c_str(), false).Search("*"), nullptr);
    EXPECT_EQ(fstest::Cwd(), before);

    // Search permission without read: names can be checked, not listed,
    // just as after entering the directory.
    ASSERT_EQ(chmod(w.c_str(), 0311), 0);
    if (geteuid() != 0) {
        EXPECT_EQ(d.Search("*"), nullptr);
    }
    EXPECT_EQ(Found(d.Search("a.txt")), Names{w + "/a.txt"});
    chmod(w.c_str(), 0755);
}

// Search must not move the current directory under other threads, and
// concurrent searches must not disturb each other.
TEST_F(DirTest, SearchLeavesCurrentDirectoryAlone) {
    Dir("one");
    Dir("two");
    for (int i = 0; i < 5; i++)
        File("one/f" + std::to_string(i) + ".a");
    for (int i = 0; i < 3; i++)
        File("two/g" + std::to_string(i) + ".b");
    Enter(root);
    std::atomic<bool> done{false};
    std::atomic<int> moved{0};
    std::thread watcher([&] {
        while (!done.load())
            moved += fstest::Cwd() != root;
    });
    auto search = [&](const char* dir, const char* pattern, size_t expected) {
        ZoDirectory d(At(dir).c_str(), false);
        for (int i = 0; i < 200; i++)
            EXPECT_EQ(Found(d.Search(pattern)).size(), expected);
    };
    std::thread other([&] { search("two", "*.b", 3); });
    search("one", "*.a", 5);
    other.join();
    done = true;
    watcher.join();
    EXPECT_EQ(moved.load(), 0);
}

TEST_F(DirTest, Cd) {
    Dir("a");
    Dir("a/b");
    Dir("a/b/c");
    File("a/b/c/in-c");
    File("a/b/in-b");
    ZoDirectory d(At("a/b/c").c_str(), false);
    ASSERT_TRUE(d.Cd(".."));
    EXPECT_EQ(d.GetFull(), At("a/b"));
    EXPECT_EQ(d.GetPath(), At("a"));
    EXPECT_STREQ(d.GetName(), "b");
    EXPECT_EQ(Listed(d), (Names{"c", "in-b"}));
    ASSERT_TRUE(d.Cd("c"));
    EXPECT_EQ(d.GetPath(), At("a/b"));
    EXPECT_EQ(d.NextEntry(), nullptr);  // the old listing ended with the move
    EXPECT_EQ(Listed(d), Names{"in-c"});
    for (const char* bad : {"missing", "in-c", "", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(d.Cd(bad));
        EXPECT_EQ(d.GetFull(), At("a/b/c"));
        EXPECT_STREQ(d.GetName(), "c");
    }
    ZoDirectory top("/usr", false);
    EXPECT_TRUE(top.Cd(".."));
    EXPECT_STREQ(top.GetFull(), "/usr");
}

TEST_F(DirTest, CreateAndMkdir) {
    mode_t old = umask(022);
    ZoDirectory made(At("new").c_str(), true);
    ZoDirectory deep(At("x/y").c_str(), true);  // one level only
    ZoEntry e(At("fromentry").c_str());
    ZoDirectory fromEntry(&e, true);
    ZoDirectory named(root.c_str(), "named", true);
    umask(0);
    EXPECT_TRUE(made.Mkdir("m", 0700));
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(At("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    ASSERT_EQ(stat(At("new/m").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(deep.InitCheck());
    EXPECT_FALSE(Present(At("x")));
    EXPECT_TRUE(fromEntry.Exists() && named.Exists());
    EXPECT_FALSE(made.Mkdir("m", 0700) || made.Mkdir("", 0700) || made.Mkdir(nullptr, 0700));
}

TEST_F(DirTest, CopyReproducesTree) {
    MakeTree("src");
    Dir("dst");
    ZoDirectory src(At("src").c_str(), false);
    ASSERT_TRUE(src.Copy(At("dst").c_str(), nullptr, true));
    ExpectTree("dst/src");
    ASSERT_TRUE(src.Copy(nullptr, "beside", true));
    ExpectTree("beside");
    ASSERT_TRUE(src.Copy(At("dst").c_str(), "flat", false));  // subdirectories still whole
    ExpectTree("dst/flat");
    EXPECT_FALSE(src.Copy(root.c_str(), "dst", true));  // exists: nothing copied
    EXPECT_FALSE(Present(At("dst/a.txt")));
    // A copy made inside the source is not copied into itself again.
    ASSERT_TRUE(src.Copy(At("src/sub").c_str(), "copy", true));
    EXPECT_EQ(ReadFile(At("src/sub/copy/sub/deep/c.txt")), "C");
    EXPECT_FALSE(Present(At("src/sub/copy/sub/copy")));
}

TEST_F(DirTest, CopyStaysInsideTheTree) {
    MakeTree("src");
    Link(At("outside"), "src/out-dir");
    Link("../../outside", "src/sub/rel-dir");
    Link(At("outfile"), "src/out-file");
    Link(At("nowhere"), "src/dangling");
    ZoDirectory src(At("src").c_str(), false);
    ASSERT_TRUE(src.Copy(root.c_str(), "dst", true));
    ExpectTree("dst");
    EXPECT_EQ(fstest::LinkText(At("dst/out-dir")), At("outside"));
    EXPECT_EQ(fstest::LinkText(At("dst/sub/rel-dir")), "../../outside");
    EXPECT_EQ(fstest::LinkText(At("dst/dangling")), At("nowhere"));
    EXPECT_EQ(fstest::LinkText(At("dst/out-file")), "");  // a file link gives the bytes
    EXPECT_EQ(ReadFile(At("dst/out-file")), "F");
    ExpectOutsideIntact();
    EXPECT_FALSE(Present(At("outside/out-dir")));
    // A directory named through a link is copied as that link.
    ZoDirectory alias(At("src/out-dir").c_str(), false);
    ASSERT_TRUE(alias.Copy(root.c_str(), "alias-copy", true));
    EXPECT_EQ(fstest::LinkText(At("alias-copy")), At("outside"));
}

TEST_F(DirTest, RemoveStaysInsideTheTree) {
    MakeTree("t");
    Link(At("outside"), "t/out-dir");
    Link(At("outside"), "t/sub/deep/out-dir");
    Link(At("outfile"), "t/sub/out-file");
    ZoDirectory t(At("t").c_str(), false);
    EXPECT_FALSE(t.Remove(false));
    ExpectTree("t");
    EXPECT_TRUE(t.Remove(true));
    EXPECT_FALSE(Present(At("t")));
    EXPECT_FALSE(t.Remove(true));
    ExpectOutsideIntact();
    // A directory named through a link is removed as that link.
    Link(At("outside"), "alias");
    EXPECT_TRUE(ZoDirectory(At("alias").c_str(), false).Remove(true));
    EXPECT_FALSE(Present(At("alias")));
    ExpectOutsideIntact();
}

TEST_F(DirTest, Empty) {
    MakeTree("t");
    Link(At("outside"), "t/sub/out-dir");
    Link(At("outfile"), "t/out-file");
    ZoDirectory t(At("t").c_str(), false);
    const char* jpg[] = {"jpg"};
    t.Rewind(1, jpg);              // earlier filters do not limit emptying
    EXPECT_FALSE(t.Empty(false));  // stops at a subdirectory that is not empty
    EXPECT_TRUE(Present(At("t/sub/deep/c.txt")));
    EXPECT_TRUE(t.Empty(true));
    EXPECT_TRUE(t.Exists());
    EXPECT_TRUE(Listed(t).empty());
    ExpectOutsideIntact();

    Dir("u");
    Dir("u/empty");
    File("u/f");
    Link(At("outside"), "u/out-dir");  // a link to a directory goes as a link
    ZoDirectory u(At("u").c_str(), false);
    EXPECT_TRUE(u.Empty(false));
    EXPECT_TRUE(Listed(u).empty());
    ExpectOutsideIntact();
}

// No fixed path buffers: paths far past 300 characters are listed, searched,
// copied and removed.
TEST_F(DirTest, LongPaths) {
    std::string part(150, 'n'), rel = part;
    ZoDirectory walker(root.c_str(), false);
    for (int i = 0; i < 12; i++) {
        ASSERT_TRUE(walker.Mkdir(part.c_str(), 0755));
        ASSERT_TRUE(walker.Cd(part.c_str()));
        if (i > 0) rel += "/" + part;
    }
    ASSERT_GT(strlen(walker.GetFull()), 1800u);
    File(rel + "/leaf", "L");
    EXPECT_EQ(Listed(walker), Names{"leaf"});
    EXPECT_EQ(Found(walker.Search("le*")).size(), 1u);
    ZoDirectory top(At(part).c_str(), false);
    ASSERT_TRUE(top.Copy(root.c_str(), "copy", true));
    EXPECT_EQ(ReadFile(At("copy" + rel.substr(part.size()) + "/leaf")), "L");
    EXPECT_TRUE(top.Remove(true));
    EXPECT_FALSE(Present(At(part)));
}

}  // namespace
