#include "fs/FsTestUtil.h"

namespace {

using namespace fstest;

using PathCwd = TempDirTest;

// rel2full against the current directory (home/u below the test's root),
// at the top level, and beneath a removed current directory.
TEST_F(PathCwd, Rel2FullAndGetParent) {
    Dir("home");
    Dir("home/u");
    std::string home = At("home"), u = At("home/u");
    Enter(u);
    const std::pair<const char*, std::string> cases[] = {
        {".", u},
        {"..", home},
        {"../x/", home + "/x"},
        {"x/", u + "/x/"},  // plain relative names keep their slash
        {"", u},
        {"../../x", home + "/../x"},  // only the first ".." is resolved
        {"//", "/"},
        {"/a//", "/a/"},
        {nullptr, "(null)"},
        // Names that merely begin with dots are ordinary names.
        {".profile", u + "/.profile"},
        {"..x", u + "/..x"}};
    for (const auto& c : cases)
        EXPECT_EQ(Take(rel2full(c.first)), c.second) << (c.first ? c.first : "(null)");
    // Null: the parent of the current directory; a top-level path has none.
    EXPECT_EQ(Take(getparent(nullptr)) + "|" + Take(getparent("/a")), home + "|(null)");
    Enter("/usr");
    EXPECT_EQ(Take(rel2full("../x")), "(null)");
    Enter(u);
    ASSERT_EQ(rmdir(u.c_str()), 0);
    EXPECT_EQ(Take(rel2full("x")), "(null)");
    EXPECT_EQ(Take(rel2full("/abs")), "/abs");  // needs no current directory
    EXPECT_EQ(Take(getparent(nullptr)), "(null)");
}

// The exact values the property checks of the path fuzzer leave open.
TEST(PathStrings, SplitSearchCutJoin) {
    const char* splits[][3] = {{"/a/b/c", "/a/b", "c"}, {"//usr", "/", "usr"}, {"name", "", "name"},
                               {"/usr", "/usr", ""},    {"/a/b/", "/a", "b"},  {"x/", "", "x"},
                               {"//", "/", ""}};
    for (auto& c : splits) {
        char *dir = nullptr, *name = nullptr;
        splitfull(c[0], &dir, &name);
        EXPECT_EQ(Take(dir) + "|" + Take(name), std::string(c[1]) + "|" + c[2]) << c[0];
    }
    EXPECT_EQ(strfindlastn("a/b/c/d", '/', 2), 1);
    EXPECT_EQ(strfindlastn("a/b", '/', 1), -1);
    EXPECT_EQ(strfindlast(nullptr, 'a') + strfindfirst("a/b", '/'), 0);
    EXPECT_EQ(Take(strcut("abcdef", 2, 4)), "cde");
    EXPECT_EQ(Take(strpath("/a", nullptr)) + Take(stradd(nullptr, "cd")), "/acd");
    EXPECT_EQ(Take(entryattr("/d", "p")) + Take(zolib::strndup("ab", 1)), "/d/.attr.pa");
    std::string big(100000, 'a');
    EXPECT_EQ(Take(getparent(Take(strpath(big.c_str(), "b")).c_str())), big);
}

using CopyFile = TempDirTest;

TEST_F(CopyFile, CopiesBytesRefusesWhatItCannotCopy) {
    std::string data;
    for (int i = 0; i < 100000; i++)
        data += static_cast<char>(i * 7);
    File("src", data);
    File("dst", std::string(200000, 'x'));
    EXPECT_TRUE(copy_file(At("src").c_str(), At("dst").c_str()));
    EXPECT_EQ(ReadFile(At("dst")), data);
    Dir("dir");
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0644), 0);  // no writer: must not block
    for (const char* from : {"missing", "dir", "fifo"}) {
        EXPECT_FALSE(copy_file(At(from).c_str(), At("none").c_str())) << from;
        EXPECT_FALSE(Present(At("none"))) << from;
    }
    // Onto itself, directly or through a hard link, would truncate the data.
    ASSERT_EQ(link(At("src").c_str(), At("hard").c_str()), 0);
    EXPECT_FALSE(copy_file(At("src").c_str(), At("src").c_str()));
    EXPECT_FALSE(copy_file(At("src").c_str(), At("hard").c_str()));
    EXPECT_FALSE(copy_file(nullptr, At("dst").c_str()));
    EXPECT_EQ(ReadFile(At("src")), data);
}

}  // namespace
