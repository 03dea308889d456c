// ZoArgs: one table of command lines and what Extract makes of them, then
// the queries and bad input, and trunc(text) beside the C library's trunc.
#include <zolib/app/Args.h>

#include <gtest/gtest.h>
#include <cmath>

#include <string>
#include <type_traits>
#include <vector>

namespace {

// Extracts `texts` (the program name put in front) from a writable argv
// that is gone when this returns: the values must be the bag's own copies.
void Extract(ZoArgs& args, std::vector<std::string> texts) {
    texts.insert(texts.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& t : texts)
        argv.push_back(t.data());
    argv.push_back(nullptr);
    args.Extract(static_cast<int>(texts.size()), argv.data());
}

// The options among `names` as "name" for a flag, "name=a,b" for values, in
// order. A flag stored more than once shows as "name*N".
std::string Describe(ZoArgs& args, std::vector<const char*> names) {
    std::string out;
    for (const char* name : names) {
        if (!args.Presents(name)) continue;
        out += (out.empty() ? "" : " ") + std::string(name);
        for (int i = 1; i <= args.Count(name); i++)
            if (const char* v = args.Value(name, i)) out += std::string(i == 1 ? "=" : ",") + v;
        if (args.Count(name) > 1 && args.Value(name, 1) == nullptr)
            out += "*" + std::to_string(args.Count(name));
    }
    return out;
}

TEST(ArgsExtract, CommandLines) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
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
    for (const auto& [argv, parsed] : cases) {
        ZoArgs args;
        Extract(args, argv);
        EXPECT_EQ(Describe(args, {"o", "v", "I", "d", "e", "", "a", "x", "-v", "file", "_left"}),
                  parsed)
            << argv.size() << " arguments from " << argv[0];
    }
}

TEST(ArgsExtract, QueriesBadListsAndRepeatedExtracts) {
    ZoArgs args;
    Extract(args, {"-o", "a", "b", "-v"});
    for (int index : {0, -1, 3})
        EXPECT_EQ(args.Value("o", index), nullptr) << index;
    EXPECT_EQ(args.Value("v", 1), nullptr);
    EXPECT_EQ(args.Count("missing"), 0);
    EXPECT_FALSE(args.Presents(nullptr));
    EXPECT_EQ(args.Value(nullptr, 1), nullptr);
    std::string o = "-o", c = "c";  // null entries are skipped
    char* argv[] = {nullptr, o.data(), nullptr, c.data(), nullptr};
    for (int argc : {1, 0, -5})  // nothing to extract
        args.Extract(argc, argv);
    args.Extract(3, nullptr);
    EXPECT_EQ(Describe(args, {"o", "v", "w"}), "o=a,b v");
    args.Extract(5, argv);
    Extract(args, {"-w"});
    EXPECT_EQ(Describe(args, {"o", "v", "w"}), "o=a,b,c v w");
}

// ZoLib's trunc(text) shares the global name with the C library's; with
// <cmath> included after ZoLib here (and before it in TruncMathFirst.cpp),
// numbers still reach the C library. Extract cuts every option's sign with it.
TEST(ArgsTrunc, TextsAndNumbers) {
    EXPECT_EQ(trunc(static_cast<const char*>(nullptr)), nullptr);
    static_assert(std::is_same_v<decltype(trunc(2.5)), double>);
    EXPECT_EQ(trunc(-2.5), -2.0);
    EXPECT_EQ(trunc(0), 0.0);  // a literal 0 is no null text
}

}  // namespace
