// Shared by the file-system tests: a fresh temporary directory per test,
// removed afterwards, and small file utilities written without the library.
#pragma once

#include <zolib/fs/Directory.h>
#include <zolib/fs/Entry.h>
#include <zolib/fs/Path.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

namespace fstest {

using Names = std::set<std::string>;

// Takes a malloc'd result of the path functions: its text, or "(null)".
inline std::string Take(char* t) {
    std::string s = t ? t : "(null)";
    free(t);
    return s;
}

inline std::string ReadFile(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

// lstat: anything there, dangling links included.
inline bool Present(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The link's text, or "" when path is not a symbolic link.
inline std::string LinkText(const std::string& path) {
    std::error_code ec;
    return std::filesystem::read_symlink(path, ec).string();
}

// A fresh directory from mkdtemp (its real path, so that paths built from
// getcwd compare equal); the current directory is restored afterwards.
class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        start = Take(getcwd(nullptr, 0));
        char templ[] = "/tmp/zofs-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        root = Take(realpath(templ, nullptr));
    }
    void TearDown() override {
        if (chdir(start.c_str()) != 0) (void)!chdir("/");
        std::error_code ec;
        std::filesystem::remove_all(root, ec);  // does not follow links
    }

    std::string At(const std::string& rel) const { return root + "/" + rel; }
    void Dir(const std::string& rel) const { ASSERT_EQ(mkdir(At(rel).c_str(), 0755), 0); }
    void File(const std::string& rel, const std::string& data = "") const {
        std::ofstream(At(rel), std::ios::binary | std::ios::trunc) << data;
    }
    void Link(const std::string& text, const std::string& rel) const {
        ASSERT_EQ(symlink(text.c_str(), At(rel).c_str()), 0);
    }
    // Sets both times to a fixed past instant, so that later changes show
    // whatever the file system's timestamp granularity.
    void Age(const std::string& rel, long nsec = 0) const {
        const timespec t[2] = {{1000000000, nsec}, {1000000000, nsec}};
        ASSERT_EQ(utimensat(AT_FDCWD, At(rel).c_str(), t, 0), 0);
    }
    void Enter(const std::string& dir) const { ASSERT_EQ(chdir(dir.c_str()), 0) << dir; }

    std::string start, root;
};

}  // namespace fstest
