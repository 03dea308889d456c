#include <zolib/app/Args.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A writable argv (with the program name in front) that outlives Extract.
class Argv {
  public:
    Argv(std::initializer_list<const char*> args) {
        texts.emplace_back("prog");
        for (const char* a : args)
            texts.emplace_back(a);
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

void Parse(ZoArgs& args, std::initializer_list<const char*> list) {
    Argv a(list);
    args.Extract(a.argc(), a.argv());
}

// All values of an option, in order.
std::vector<std::string> Values(ZoArgs& args, const char* name) {
    std::vector<std::string> out;
    for (int i = 1; i <= args.Count(name); i++) {
        const char* v = args.Value(name, i);
        out.push_back(v != nullptr ? v : "<null>");
    }
    return out;
}

using Strings = std::vector<std::string>;

// ---- options ----

TEST(ArgsOptions, OptionWithoutValuesIsAFlag) {
    ZoArgs args;
    Parse(args, {"-v"});
    EXPECT_TRUE(args.Presents("v"));
    EXPECT_EQ(args.Count("v"), 1);
    EXPECT_EQ(args.Value("v", 1), nullptr);
    EXPECT_FALSE(args.Presents("-v"));  // the sign is not part of the name
}

TEST(ArgsOptions, OptionTakesThePlainArgumentsAfterIt) {
    ZoArgs args;
    Parse(args, {"-o", "out", "extra", "-v"});
    EXPECT_EQ(Values(args, "o"), (Strings{"out", "extra"}));
    EXPECT_EQ(args.Count("v"), 1);
    EXPECT_EQ(args.Value("v", 1), nullptr);
}

TEST(ArgsOptions, RepeatedOptionCollectsAllValues) {
    ZoArgs args;
    Parse(args, {"-I", "a", "-I", "b"});
    EXPECT_EQ(args.Count("I"), 2);
    EXPECT_STREQ(args.Value("I", 2), "b");
    EXPECT_EQ(Values(args, "I"), (Strings{"a", "b"}));
}

TEST(ArgsOptions, OptionKeepsItsFirstKind) {
    ZoArgs repeated;
    Parse(repeated, {"-v", "-v", "-v"});
    EXPECT_EQ(repeated.Count("v"), 1);
    // Values first, then the bare option: the values stay.
    ZoArgs values;
    Parse(values, {"-I", "a", "-I"});
    EXPECT_EQ(Values(values, "I"), (Strings{"a"}));
    // Flag first: later values for it are refused by the bag and dropped.
    ZoArgs flag;
    Parse(flag, {"-v", "-v", "x"});
    EXPECT_EQ(flag.Count("v"), 1);
    EXPECT_EQ(flag.Value("v", 1), nullptr);
}

TEST(ArgsOptions, PlusIntroducesOptionsLikeMinus) {
    ZoArgs args;
    Parse(args, {"+d", "-e", "x", "+e", "y"});
    EXPECT_EQ(args.Count("d"), 1);
    EXPECT_EQ(args.Value("d", 1), nullptr);
    EXPECT_EQ(Values(args, "e"), (Strings{"x", "y"}));
}

TEST(ArgsOptions, LoneSignIsTheEmptyName) {
    ZoArgs args;
    Parse(args, {"-", "stdin"});
    EXPECT_TRUE(args.Presents(""));
    EXPECT_EQ(Values(args, ""), (Strings{"stdin"}));
}

TEST(ArgsOptions, EmptyArgumentIsAnEmptyValue) {
    ZoArgs args;
    Parse(args, {"-o", ""});
    EXPECT_EQ(Values(args, "o"), (Strings{""}));
}

// ---- plain arguments and the end of options ----

TEST(ArgsPlain, PlainArgumentsBeforeAnyOptionAreIgnored) {
    ZoArgs args;
    Parse(args, {"file", "other", "-v"});
    EXPECT_FALSE(args.Presents("file"));
    EXPECT_FALSE(args.Presents("_left"));
    EXPECT_EQ(args.Count("v"), 1);
}

TEST(ArgsEndOfOptions, DoubleDashSendsTheRestToLeft) {
    ZoArgs args;
    Parse(args, {"-x", "--", "f1", "f2"});
    EXPECT_EQ(args.Count("x"), 1);
    EXPECT_EQ(args.Value("x", 1), nullptr);
    EXPECT_EQ(Values(args, "_left"), (Strings{"f1", "f2"}));
}

TEST(ArgsEndOfOptions, TextAfterTheMarkerIsIgnored) {
    ZoArgs args;
    Parse(args, {"--v", "f"});
    EXPECT_FALSE(args.Presents("v"));
    EXPECT_FALSE(args.Presents("-v"));
    EXPECT_EQ(Values(args, "_left"), (Strings{"f"}));

    ZoArgs plus;
    Parse(plus, {"+-", "g"});
    EXPECT_EQ(Values(plus, "_left"), (Strings{"g"}));
}

TEST(ArgsEndOfOptions, MarkerWithNothingAfterItLeavesAFlag) {
    ZoArgs args;
    Parse(args, {"-a", "--"});
    EXPECT_TRUE(args.Presents("_left"));
    EXPECT_EQ(args.Count("_left"), 1);
    EXPECT_EQ(args.Value("_left", 1), nullptr);
}

TEST(ArgsEndOfOptions, OptionsAfterTheMarkerAreStillOptions) {
    ZoArgs args;
    Parse(args, {"--", "f1", "-x", "f2", "--", "f3"});
    EXPECT_EQ(Values(args, "_left"), (Strings{"f1", "f3"}));
    EXPECT_EQ(Values(args, "x"), (Strings{"f2"}));
}

// ---- queries and repeated parsing ----

TEST(ArgsQueries, ValueOutsideTheValuesIsNull) {
    ZoArgs args;
    Parse(args, {"-o", "a", "b"});
    EXPECT_EQ(args.Value("o", 0), nullptr);
    EXPECT_EQ(args.Value("o", -1), nullptr);
    EXPECT_EQ(args.Value("o", 3), nullptr);
    EXPECT_EQ(args.Value("missing", 1), nullptr);
    EXPECT_EQ(args.Count("missing"), 0);
    EXPECT_FALSE(args.Presents("missing"));
    EXPECT_FALSE(args.Presents(nullptr));
    EXPECT_EQ(args.Value(nullptr, 1), nullptr);
}

TEST(ArgsQueries, ValuesAreCopiesIndependentOfArgv) {
    ZoArgs args;
    {
        Argv a({"-o", "out"});
        args.Extract(a.argc(), a.argv());
        a.argv()[2][0] = 'X';
    }
    EXPECT_STREQ(args.Value("o", 1), "out");
}

TEST(ArgsQueries, SecondExtractAddsToTheFirst) {
    ZoArgs args;
    Parse(args, {"-I", "a", "-v"});
    Parse(args, {"-I", "b", "-w"});
    EXPECT_EQ(Values(args, "I"), (Strings{"a", "b"}));
    EXPECT_TRUE(args.Presents("v"));
    EXPECT_TRUE(args.Presents("w"));
}

// ---- bad input ----

TEST(ArgsBadInput, ShortOrMissingArgumentListsChangeNothing) {
    ZoArgs args;
    Argv a({"-v"});
    args.Extract(1, a.argv());
    args.Extract(0, a.argv());
    args.Extract(-5, a.argv());
    args.Extract(3, nullptr);
    EXPECT_FALSE(args.Presents("v"));
    char* none[] = {nullptr};
    args.Extract(0, none);
    EXPECT_FALSE(args.Presents("v"));
}

TEST(ArgsBadInput, NullEntriesAreSkipped) {
    ZoArgs args;
    std::string o = "-o", v1 = "a", v2 = "b";
    char* argv[] = {nullptr, o.data(), nullptr, v1.data(), nullptr, v2.data(), nullptr};
    args.Extract(7, argv);
    EXPECT_EQ(Values(args, "o"), (Strings{"a", "b"}));
}

// ---- trunc ----

TEST(ArgsTrunc, DropsTheFirstCharacter) {
    char* cut = trunc("-name");
    EXPECT_STREQ(cut, "name");
    free(cut);
    std::string text = "+x";
    cut = trunc(text.data());  // a char* argument reaches it too
    EXPECT_STREQ(cut, "x");
    free(cut);
    char* one = trunc("-");
    EXPECT_STREQ(one, "");
    free(one);
    char* empty = trunc("");
    EXPECT_STREQ(empty, "");
    free(empty);
    EXPECT_EQ(trunc(static_cast<const char*>(nullptr)), nullptr);
}

}  // namespace
