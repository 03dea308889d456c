// ZoArgs: one table of command lines and what Extract makes of them, then
// the queries, bad input and trunc(text) beside the C library's trunc.
#include <zolib/app/Args.h>

#include <gtest/gtest.h>
#include <cmath>

#include <cstdlib>
#include <string>
#include <type_traits>
#include <vector>

namespace {

// A writable argv (with the program name in front) that outlives Extract.
class Argv {
  public:
    Argv(std::vector<const char*> args) : texts{"prog"} {
        texts.insert(texts.end(), args.begin(), args.end());
        for (std::string& t : texts)
            pointers.push_back(t.data());
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(texts.size()); }
    char** argv() { return pointers.data(); }

  private:
    std::vector<std::string> texts;
    std::vector<char*> pointers;
};

// The options `names` as "name" for a flag, "name=a,b" for values, in order;
// absent ones are left out. A flag stored more than once shows as "name*N".
std::string Describe(ZoArgs& args, std::vector<const char*> names) {
    std::string out;
    for (const char* name : names) {
        if (!args.Presents(name)) continue;
        out += out.empty() ? "" : " ";
        out += name;
        for (int i = 1; i <= args.Count(name); i++) {
            const char* v = args.Value(name, i);
            if (v != nullptr) out += std::string(i == 1 ? "=" : ",") + v;
        }
        if (args.Count(name) > 1 && args.Value(name, 1) == nullptr)
            out += "*" + std::to_string(args.Count(name));
    }
    return out;
}

TEST(ArgsExtract, CommandLines) {
    struct Case {
        std::vector<const char*> argv;
        const char* parsed;
    } cases[] = {
        {{"-v"}, "v"},
        {{"-o", "out", "extra", "-v"}, "o=out,extra v"},
        {{"-I", "a", "-I", "b"}, "I=a,b"},
        {{"-v", "-v", "-v"}, "v"},
        {{"-I", "a", "-I"}, "I=a"},  // values first: they stay
        {{"-v", "-v", "x"}, "v"},    // a flag takes no later values
        {{"+d", "-e", "x", "+e", "y"}, "d e=x,y"},
        {{"-", "stdin"}, "=stdin"},  // a lone sign is the empty name
        {{"-o", ""}, "o="},
        {{"file", "other", "-v"}, "v"},  // plain arguments before options are ignored
        {{"-x", "--", "f1", "f2"}, "x _left=f1,f2"},
        {{"--v", "f"}, "_left=f"},  // text after the marker is ignored
        {{"+-", "g"}, "_left=g"},
        {{"-a", "--"}, "a _left"},
        {{"--", "f1", "-x", "f2", "--", "f3"}, "x=f2 _left=f1,f3"},
    };
    for (const Case& c : cases) {
        ZoArgs args;
        Argv a(c.argv);
        args.Extract(a.argc(), a.argv());
        EXPECT_EQ(Describe(args, {"o", "v", "I", "d", "e", "", "a", "x", "-v", "file", "_left"}),
                  c.parsed)
            << c.argv.size() << " arguments from " << c.argv[0];
    }
}

TEST(ArgsExtract, QueriesCopiesAndRepeatedExtracts) {
    ZoArgs args;
    {
        Argv a({"-o", "a", "b", "-v"});
        args.Extract(a.argc(), a.argv());
        a.argv()[2][0] = 'X';  // values are copies
    }
    EXPECT_STREQ(args.Value("o", 1), "a");
    EXPECT_EQ(args.Value("o", 0), nullptr);
    EXPECT_EQ(args.Value("o", -1), nullptr);
    EXPECT_EQ(args.Value("o", 3), nullptr);
    EXPECT_EQ(args.Value("v", 1), nullptr);
    EXPECT_EQ(args.Count("missing"), 0);
    EXPECT_FALSE(args.Presents(nullptr));
    EXPECT_EQ(args.Value(nullptr, 1), nullptr);
    Argv more({"-o", "c", "-w"});
    args.Extract(more.argc(), more.argv());
    EXPECT_EQ(Describe(args, {"o", "v", "w"}), "o=a,b,c v w");
}

TEST(ArgsExtract, BadArgumentListsAreSkipped) {
    ZoArgs args;
    Argv a({"-v"});
    for (int argc : {1, 0, -5})
        args.Extract(argc, a.argv());
    args.Extract(3, nullptr);
    EXPECT_FALSE(args.Presents("v"));
    std::string o = "-o", v1 = "a", v2 = "b";
    char* argv[] = {nullptr, o.data(), nullptr, v1.data(), nullptr, v2.data(), nullptr};
    args.Extract(7, argv);
    EXPECT_EQ(Describe(args, {"o"}), "o=a,b");
}

// ZoLib's trunc(text) shares the global name with the C library's; with
// <cmath> included after ZoLib here (and before it in TruncMathFirst.cpp),
// numbers still reach the C library.
TEST(ArgsTrunc, TextsAndNumbers) {
    for (auto [text, cut] : {std::pair{"-name", "name"}, {"-", ""}, {"", ""}}) {
        char* got = trunc(text);
        EXPECT_STREQ(got, cut);
        free(got);
    }
    std::string plus = "+x";
    char* got = trunc(plus.data());
    EXPECT_STREQ(got, "x");
    free(got);
    EXPECT_EQ(trunc(static_cast<const char*>(nullptr)), nullptr);
    static_assert(std::is_same_v<decltype(trunc(2.5)), double>);
    EXPECT_EQ(trunc(-2.5), -2.0);
    EXPECT_EQ(trunc(0), 0.0);  // a literal 0 is no null text
}

}  // namespace
