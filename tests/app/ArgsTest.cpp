// ZoArgs: one table of command lines and what Extract makes of them, then bad
// input. Value bounds, null entries and repeated extracts are swept by
// fuzz/ArgsFuzzer.cpp.
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
    args.Extract(static_cast<int>(argv.size()), argv.data());
}

TEST(ArgsExtract, CommandLines) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-v"}, "v=1"},
        {{"-o", "out", "extra", "-v"}, "o=out,extra v=1"},
        {{"-I", "a", "-I", "b"}, "I=a,b"},
        {{"-v", "-v", "-v"}, "v=1"},
        {{"-I", "a", "-I"}, "I=a"},  // values first: they stay
        {{"-v", "-v", "x"}, "v=1"},  // a flag takes no later values
        {{"+d", "-e", "x", "+e", "y"}, "d=1 e=x,y"},
        {{"-", "stdin"}, "=stdin"},        // a lone sign is the empty name
        {{"file", "other", "-v"}, "v=1"},  // plain arguments before options are ignored
        {{"-x", "--", "f1", "f2"}, "x=1 _left=f1,f2"},
        {{"--v", "f"}, "_left=f"},  // text after the marker is ignored
        {{"+-", "g"}, "_left=g"},
        {{"--", "f1", "-x", "f2", "--", "f3"}, "x=f2 _left=f1,f3"},
    };
    for (const auto& [argv, parsed] : cases) {
        ZoArgs args;
        Extract(args, argv);
        // Each option present with its values; a flag (no value) shows as 1.
        std::string got;
        for (const char* name : {"o", "v", "I", "d", "e", "", "a", "x", "-v", "file", "_left"}) {
            if (!args.Presents(name)) continue;
            got += (got.empty() ? "" : " ") + std::string(name) + "=";
            for (int i = 1; i <= args.Count(name); i++) {
                const char* value = args.Value(name, i);
                got += (i > 1 ? "," : "") + std::string(value != nullptr ? value : "1");
            }
        }
        EXPECT_EQ(got, parsed) << argv.size() << " arguments from " << argv[0];
    }
}

// ZoLib's trunc(text) shares the global name with the C library's; with
// <cmath> included after ZoLib here (and before it in TruncMathFirst.cpp),
// numbers still reach the C library.
static_assert(std::is_same_v<decltype(trunc(0)), double>);

TEST(ArgsExtract, BadInputIsHarmless) {
    ZoArgs args;
    std::string w = "-w";
    char* argv[] = {w.data(), w.data()};
    for (int argc : {1, -5})  // nothing after the program name
        args.Extract(argc, argv);
    args.Extract(3, nullptr);
    Extract(args, {"-o", "a"});
    EXPECT_FALSE(args.Presents("w"));
    EXPECT_EQ(args.Value("o", -1), nullptr);
    EXPECT_EQ(trunc(static_cast<const char*>(nullptr)), nullptr);
}

}  // namespace
