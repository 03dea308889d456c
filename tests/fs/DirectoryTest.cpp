#include "fs/FsTestUtil.h"

namespace {

using namespace fstest;

class DirTest : public TempDirTest {
  protected:
    Names Listed(ZoDirectory& dir, int count = 0, const char* const* filters = nullptr) {
        dir.Rewind(count, filters);
        Names names;
        while (ZoEntry* e = dir.NextEntry()) {
            std::unique_ptr<ZoEntry> owned(e);
            EXPECT_EQ(e->GetPath(), std::string(dir.GetFull()));
            names.insert(e->GetName() + std::string(dynamic_cast<ZoDirectory*>(e) ? "/" : ""));
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
    // top/{a.txt, sub/{b.txt, deep/c.txt}, empty/} with links out of it to
    // outside/keep and outfile, which must survive whatever is done to top.
    void MakeTree(const std::string& top) {
        for (std::string dir : {"", "/sub", "/sub/deep", "/empty"})
            Dir(top + dir);
        File(top + "/a.txt", "A");
        File(top + "/sub/deep/c.txt", "C");
        Dir("outside");
        File("outside/keep", "K");
        File("outfile", "F");
        Link(At("outside"), top + "/out-dir");
        Link("../../outside", top + "/sub/rel-dir");
        Link(At("outfile"), top + "/sub/out-file");
        Link(At("nowhere"), top + "/dangling");
    }
};

// Every name but "." and ".." is listed (directories and links to them as
// directories), filtered by extension where asked, until the next rewind.
TEST_F(DirTest, ListingAndFilters) {
    for (const char* n : {"a.jpg", "b.png", ".hidden", "..x", "...", ".a.jpg", "Makefile", "x."})
        File(n);
    Dir("sub");
    Link(At("sub"), "dirlink");
    ZoDirectory d(root.c_str(), false);
    EXPECT_EQ(d.NextEntry(), nullptr);  // before any rewind
    const Names all{"a.jpg",  "b.png",    ".hidden", "..x",  "...",
                    ".a.jpg", "Makefile", "x.",      "sub/", "dirlink/"};
    EXPECT_EQ(Listed(d), all);
    const char* images[] = {"jpg", "png"};
    const char* make[] = {"Makefile"};  // a dot-less name is its own extension
    const char* empty[] = {""};         // "x." and ".." (its last dot ends it); "." never
    const char* odd[] = {"hidden", "JPG", nullptr};  // a leading dot only; case counts
    EXPECT_EQ(Listed(d, 2, images), (Names{"a.jpg", "b.png", ".a.jpg"}));
    EXPECT_EQ(Listed(d, 1, make), Names{"Makefile"});
    EXPECT_EQ(Listed(d, 1, empty), (Names{"x.", "...", "../"}));
    EXPECT_TRUE(Listed(d, 3, odd).empty());
    EXPECT_EQ(Listed(d, 0, images), all);
    EXPECT_NE(dynamic_cast<ZoDirectory*>(std::unique_ptr<ZoEntry>(d.GetEntry("sub")).get()),
              nullptr);
}

// Search matches patterns below the directory, whatever its own name holds.
TEST_F(DirTest, Search) {
    // Glob characters in the directory's own name, and a name they match.
    for (const char* dir : {"we*rd [d]", "we*rd [d]/sub", "weXrd d"})
        Dir(dir);
    for (const char* file :
         {"we*rd [d]/a.txt", "we*rd [d]/c.log", "we*rd [d]/sub/x.c", "weXrd d/e.txt"})
        File(file);
    std::string w = At("we*rd [d]");
    ZoDirectory d(w.c_str(), false);
    EXPECT_EQ(Found(d.Search("*.txt")), Names{w + "/a.txt"});
    EXPECT_EQ(Found(d.Search("s?b/*.[ch]")), Names{w + "/sub/x.c"});
    // An absolute pattern names its matches, not full + "/" + match.
    EXPECT_TRUE(d.Search("*.none") == nullptr && d.Search(nullptr) == nullptr);
    EXPECT_EQ(ZoDirectory(At("missing").c_str(), false).Search("*"), nullptr);
}

// Creation makes one level only; Cd moves into a subdirectory and back,
// ending the listing, and a failed Cd changes nothing.
TEST_F(DirTest, CdCreateAndMkdir) {
    ZoDirectory d(At("a").c_str(), true);
    ASSERT_TRUE(d.Mkdir("b", 0700));
    EXPECT_FALSE(d.Mkdir("b", 0700) || d.Mkdir("", 0700) || d.Mkdir(nullptr, 0700));
    File("a/b/in-b");
    ASSERT_TRUE(d.Cd("b"));
    EXPECT_EQ(std::string(d.GetPath()) + "|" + d.GetName() + "|" + *Listed(d).begin(),
              At("a") + "|b|in-b");
    ASSERT_TRUE(d.Cd(".."));
    EXPECT_EQ(d.NextEntry(), nullptr);
    EXPECT_FALSE(d.Cd("missing") || d.Cd("") || d.Cd(nullptr));
}

// Copies reproduce the tree (links to directories as links, file links as
// bytes); copies and removals never go out of it, nor copies into
// themselves.
TEST_F(DirTest, CopyAndRemoveStayInsideTheTree) {
    MakeTree("src");
    Dir("dst");
    ZoDirectory src(At("src").c_str(), false);
    ASSERT_TRUE(src.Copy(At("dst").c_str(), nullptr, true));
    EXPECT_EQ(ReadFile(At("dst/src/sub/deep/c.txt")), "C");
    ASSERT_TRUE(src.Copy(nullptr, "beside", false));  // subdirectories still whole
    EXPECT_EQ(ReadFile(At("beside/a.txt")) + ReadFile(At("beside/sub/deep/c.txt")), "AC");
    EXPECT_EQ(LinkText(At("beside/out-dir")), At("outside"));
    EXPECT_EQ(ReadFile(At("beside/sub/out-file")), "F");
    EXPECT_EQ(LinkText(At("beside/sub/out-file")), "");
    EXPECT_FALSE(src.Copy(root.c_str(), "dst", true));  // exists: nothing copied
    EXPECT_FALSE(Present(At("dst/a.txt")));
    ASSERT_TRUE(src.Copy(At("src/sub").c_str(), "copy", true));
    EXPECT_EQ(ReadFile(At("src/sub/copy/sub/deep/c.txt")), "C");
    EXPECT_FALSE(Present(At("src/sub/copy/sub/copy")));
    const char* jpg[] = {"jpg"};
    src.Rewind(1, jpg);              // earlier filters do not limit emptying
    EXPECT_FALSE(src.Empty(false));  // stops at a subdirectory that is not empty
    EXPECT_FALSE(src.Remove(false));
    EXPECT_TRUE(Present(At("src/sub/deep/c.txt")));
    EXPECT_TRUE(src.Empty(true));
    EXPECT_TRUE(Listed(src).empty());
    File("src/f");
    Link(At("outside"), "src/out-dir");
    EXPECT_TRUE(src.Remove(true));
    EXPECT_FALSE(Present(At("src")) || src.Remove(true));
    Link(At("outside"), "alias");  // removed as the link it is
    EXPECT_TRUE(ZoDirectory(At("alias").c_str(), false).Remove(true));
    EXPECT_FALSE(Present(At("alias")));
    EXPECT_EQ(ReadFile(At("outside/keep")) + ReadFile(At("outfile")), "KF");
    EXPECT_FALSE(Present(At("outside/out-dir")));
}

}  // namespace
