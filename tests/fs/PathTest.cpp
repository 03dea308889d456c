#include <zolib/fs/Path.h>

#include "fs/FsTestUtil.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>

using fstest::Take;

namespace {

using Parts = std::pair<std::string, std::string>;

Parts Split(const char* full) {
    char* dir = nullptr;
    char* name = nullptr;
    splitfull(full, &dir, &name);
    return {Take(dir), Take(name)};
}

std::string Full(const char* p) {
    return Take(rel2full(p));
}

class PathCwd : public fstest::TempDirTest {};

TEST_F(PathCwd, Parent) {
    EXPECT_EQ(Take(getparent("/a/b")), "/a");
    EXPECT_EQ(Take(getparent("/a/b/")), "/a/b");  // a trailing slash is not special
    EXPECT_EQ(Take(getparent("abc")), "");
    EXPECT_EQ(Take(getparent("/a")), "(null)");
    EXPECT_EQ(Take(getparent("/")), "(null)");
    Dir("x");
    Enter(At("x"));
    EXPECT_EQ(Take(getparent(nullptr)), root);  // null: parent of the current directory
}

TEST_F(PathCwd, Rel2FullResolvesAgainstCurrentDirectory) {
    Dir("home");
    Dir("home/u");
    std::string home = At("home"), u = At("home/u");
    Enter(u);
    EXPECT_EQ(Full("."), u);
    EXPECT_EQ(Full(".."), home);
    EXPECT_EQ(Full("../x/"), home + "/x");
    EXPECT_EQ(Full("./y"), u + "/y");
    EXPECT_EQ(Full("./x/y/"), u + "/x/y");
    EXPECT_EQ(Full("./"), u);
    EXPECT_EQ(Full("z"), u + "/z");
    EXPECT_EQ(Full("x/"), u + "/x/");  // plain relative names keep their slash
    EXPECT_EQ(Full(""), u);
    EXPECT_EQ(Full("../../x"), home + "/../x");  // only the first ".." is resolved
    EXPECT_EQ(Full("/tmp/"), "/tmp");
    EXPECT_EQ(Full("//"), "/");
    EXPECT_EQ(Full("/a//"), "/a/");
    // Names that merely begin with dots are ordinary names.
    EXPECT_EQ(Full(".profile"), u + "/.profile");
    EXPECT_EQ(Full("..x"), u + "/..x");
    EXPECT_EQ(Full(".cfg/a"), u + "/.cfg/a");
    EXPECT_EQ(Full(".cfg/"), u + "/.cfg/");
    EXPECT_EQ(Full(nullptr), "(null)");
}

TEST_F(PathCwd, Rel2FullAtTopLevel) {
    Enter("/usr");
    EXPECT_EQ(Full(".."), "(null)");
    EXPECT_EQ(Full("../x"), "(null)");
    EXPECT_EQ(Full("."), "/usr");
    Enter("/");
    EXPECT_EQ(Full(".."), "(null)");
    EXPECT_EQ(Full("x/"), "//x/");
}

TEST_F(PathCwd, RemovedCurrentDirectoryGivesNull) {
    Dir("gone");
    Enter(At("gone"));
    ASSERT_EQ(rmdir(At("gone").c_str()), 0);
    EXPECT_EQ(Full("x"), "(null)");
    EXPECT_EQ(Full("/abs"), "/abs");  // needs no current directory
    EXPECT_EQ(Take(getparent(nullptr)), "(null)");
    EXPECT_EQ(Take(zolib::get_current_dir_name()), "(null)");
}

// Far beyond the 1024 characters a fixed getcwd buffer would allow.
TEST_F(PathCwd, LongCurrentDirectory) {
    std::string dir = root, part(200, 'd');
    while (dir.size() < 3000) {
        dir += "/" + part;
        ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    }
    Enter(dir);
    EXPECT_EQ(Full("f"), dir + "/f");
    EXPECT_EQ(Full(".."), dir.substr(0, dir.size() - part.size() - 1));
    EXPECT_EQ(Take(zolib::get_current_dir_name()), dir);
}

TEST(PathSplit, Cases) {
    EXPECT_EQ(Split("/a/b/c"), Parts("/a/b", "c"));
    EXPECT_EQ(Split("//usr"), Parts("/", "usr"));
    EXPECT_EQ(Split("name"), Parts("", "name"));
    EXPECT_EQ(Split("/"), Parts("/", ""));
    EXPECT_EQ(Split("/usr"), Parts("/usr", ""));
    EXPECT_EQ(Split("/a/b/"), Parts("/a", "b"));
    EXPECT_EQ(Split("//x/"), Parts("/", "x"));
    EXPECT_EQ(Split("x/"), Parts("", "x"));
    EXPECT_EQ(Split("/a/"), Parts("/a", ""));  // as /a
    EXPECT_EQ(Split("//"), Parts("/", ""));
    EXPECT_EQ(Split(nullptr), Parts("(null)", "(null)"));
    char* dir = nullptr;
    splitfull("/a/b", &dir, nullptr);  // only the directory part is made
    EXPECT_EQ(Take(dir), "/a");
    char* name = nullptr;
    splitfull("/a/b", nullptr, &name);  // only the name
    EXPECT_EQ(Take(name), "b");
}

TEST(PathStrings, Searches) {
    EXPECT_EQ(strfindlast("a/b/c", '/'), 3);
    EXPECT_EQ(strfindfirst("a/b/c", '/'), 1);
    EXPECT_EQ(strfindlast("abc", '/'), -1);
    EXPECT_EQ(strfindlastn("a/b/c/d", '/', 1), 3);
    EXPECT_EQ(strfindlastn("a/b/c/d", '/', 2), 1);
    EXPECT_EQ(strfindlastn("a/b", '/', 1), -1);
    EXPECT_EQ(strfindlastn("a/b", '/', -1), -1);
    const char high[] = {'a', static_cast<char>(0xE9), 'b', static_cast<char>(0xE9), '\0'};
    EXPECT_EQ(strfindfirst(high, static_cast<char>(0xE9)), 1);
    EXPECT_EQ(strfindlast(high, static_cast<char>(0xE9)), 3);
    EXPECT_EQ(strfindlast("abc", '\0'), -1);  // the terminator is not in the string
    EXPECT_EQ(strfindlast(nullptr, 'a'), -1);
    EXPECT_EQ(strfindlastn(nullptr, 'a', 0), -1);
}

TEST(PathStrings, CutDupJoin) {
    EXPECT_EQ(Take(strcut("abcdef", 2, 4)), "cde");
    EXPECT_EQ(Take(strcut("abc", 1, 0)), "");
    EXPECT_EQ(Take(strcut("abc", 2, 3)), "(null)");  // past the end: refused, not read
    EXPECT_EQ(Take(strcut("abc", 1, -5)), "(null)");
    EXPECT_EQ(Take(strcut(nullptr, 0, 1)), "(null)");

    EXPECT_EQ(Take(zolib::strndup("ab", 2)), "ab");
    char* bytes = zolib::strndup("a\0b", 3);  // copied past the NUL
    EXPECT_EQ(memcmp(bytes, "a\0b\0", 4), 0);
    free(bytes);
    EXPECT_EQ(Take(zolib::strndup("abc", -1)), "(null)");

    EXPECT_EQ(Take(strpath("/", "usr")), "//usr");
    EXPECT_EQ(Take(strpath("/a/", "b")), "/a//b");
    EXPECT_EQ(Take(strpath("/a", "")), "/a");
    EXPECT_EQ(Take(strpath("/a", nullptr)), "/a");
    EXPECT_EQ(Take(strpath(nullptr, "b")), "(null)");
    EXPECT_EQ(Take(stradd("ab", "cd")), "abcd");
    EXPECT_EQ(Take(stradd(nullptr, "cd")), "cd");
    EXPECT_EQ(Take(entryattr("/data", "photo.jpg")), "/data/.attr.photo.jpg");
    EXPECT_EQ(Take(entryattr(nullptr, "f")), "(null)");

    std::string big(100000, 'a');
    EXPECT_EQ(Take(getparent(Take(strpath(big.c_str(), "b")).c_str())), big);
}

// The library's versions must not change what the plain names do.
TEST_F(PathCwd, GlibcFunctionsKeepTheirContract) {
    EXPECT_EQ(Take(strndup("ab", 10)), "ab");  // glibc stops at the NUL
    Dir("real");
    Link(At("real"), "alias");
    Enter(At("real"));
    std::string oldPwd = getenv("PWD") ? getenv("PWD") : "";
    setenv("PWD", At("alias").c_str(), 1);
    EXPECT_EQ(Take(get_current_dir_name()), At("alias"));  // glibc trusts $PWD
    EXPECT_EQ(Take(zolib::get_current_dir_name()), At("real"));
    setenv("PWD", oldPwd.c_str(), 1);
}

class CopyFile : public fstest::TempDirTest {};

TEST_F(CopyFile, CopiesBytesWithDefaultMode) {
    std::string data;
    for (int i = 0; i < 100000; i++)
        data += static_cast<char>(i * 7);
    File("src", data);
    ASSERT_EQ(chmod(At("src").c_str(), 0700), 0);
    File("dst", std::string(200000, 'x'));
    EXPECT_TRUE(copy_file(At("src").c_str(), At("dst").c_str()));
    EXPECT_EQ(fstest::ReadFile(At("dst")), data);

    mode_t old = umask(022);
    EXPECT_TRUE(copy_file(At("src").c_str(), At("new").c_str()));
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(At("new").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    File("empty");
    EXPECT_TRUE(copy_file(At("empty").c_str(), At("dst").c_str()));
    EXPECT_EQ(fstest::ReadFile(At("dst")), "");
}

TEST_F(CopyFile, RefusalsCreateAndTruncateNothing) {
    Dir("dir");
    ASSERT_EQ(mkfifo(At("fifo").c_str(), 0644), 0);  // no writer: must not block
    for (const char* from : {"missing", "dir", "fifo"}) {
        EXPECT_FALSE(copy_file(At(from).c_str(), At("dst").c_str())) << from;
        EXPECT_FALSE(fstest::Present(At("dst"))) << from;
    }
    File("src", "precious");
    EXPECT_FALSE(copy_file(At("src").c_str(), At("nodir/dst").c_str()));
    // Onto itself, directly or through a hard link, would truncate the data.
    ASSERT_EQ(link(At("src").c_str(), At("hard").c_str()), 0);
    EXPECT_FALSE(copy_file(At("src").c_str(), At("src").c_str()));
    EXPECT_FALSE(copy_file(At("src").c_str(), At("hard").c_str()));
    EXPECT_EQ(fstest::ReadFile(At("src")), "precious");
    EXPECT_FALSE(copy_file(nullptr, At("dst").c_str()));
}

}  // namespace
