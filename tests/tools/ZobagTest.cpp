// Runs the built zobag on real files, as a user would: what each command
// writes, and how it refuses bad arguments (status 2) and bad input (status 1).
#include <zolib/bag/Bag.h>

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "bag/FlatBytes.h"

namespace {

using std::string;
using Args = std::vector<string>;
using namespace std::string_literals;

struct Result {
    int status;
    string out, err;
};

string Slurp(const string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

void Spit(const string& path, const string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Each byte as a decimal number and a space, then a newline, as DumpData prints.
string Decimal(const string& bytes) {
    string text;
    for (unsigned char c : bytes)
        text += std::to_string(c) + " ";
    return text + "\n";
}

// A bag of several types, with an item only its stored hash finds (JSON's
// own tests show every type exactly; here the tool must lose nothing).
std::unique_ptr<ZoBag> Sample() {
    std::unique_ptr<ZoBag> bag =
        BagOf(FlatOf(0xCAFE, {{12345, "stored hash", T_INT32, {"\1\0\0\0"s}}}));
    bag->who = 0xFFFFFFFF;
    bag->when = 0x80000000;
    bag->Setstring("s", "text", 0);
    bag->Setint64("l", (1ll << 53) + 1, 0);
    bag->Setdata("buf", T_BUFFER, "\0\1\xff"s.data(), 3, 0);
    ZoBag inner(3, 0);
    bag->Setbag("bag", &inner, 0);
    return bag;
}

class ZobagTool : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zobag_test_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    string Path(const string& name) const { return dir + "/" + name; }

    // Runs zobag with `input` on its standard input and its standard output
    // to `outPath` (a file of the test's own when empty), killed after 60 s.
    // A sanitizer report must not pass for the tool's own failure status.
    Result Run(const Args& args, const string& input = "", const string& outPath = "") {
        string out = outPath.empty() ? Path(".out") : outPath;
        Spit(Path(".in"), input);
        string command =
            "ASAN_OPTIONS=\"$ASAN_OPTIONS:exitcode=86\" "
            "UBSAN_OPTIONS=\"$UBSAN_OPTIONS:exitcode=86\" timeout -s KILL 60 " +
            string(ZOBAG_PATH);
        for (const string& arg : args)
            command += " '" + arg + "'";
        command += " <" + Path(".in") + " >" + out + " 2>" + Path(".err");
        int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, outPath.empty() ? Slurp(out) : "",
                Slurp(Path(".err"))};
    }

    // A failure the tool reports itself: status 1 and one line that says why.
    void ExpectFailure(const Args& args, const string& reason, const string& input = "") {
        Result result = Run(args, input);
        string why = testing::PrintToString(args) + "\n" + result.err;
        EXPECT_EQ(result.status, 1) << why;
        EXPECT_EQ(result.err.rfind("zobag: ", 0), 0u) << why;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << why;
        EXPECT_NE(result.err.find(reason), string::npos) << why;
    }

    string Save(ZoBag& bag, const string& name) {
        EXPECT_TRUE(SaveToFile(Path(name).c_str(), &bag));
        return Path(name);
    }

    string dir;
};

// Help (status 0, on standard output) wins over missing operands; a bad
// call exits with status 2 and says what is wrong.
TEST_F(ZobagTool, HelpAndBadArguments) {
    ZoBag bag(1, 0);
    string file = Save(bag, "a.bag");
    std::vector<std::pair<Args, string>> calls = {
        {{"--help"}, "Usage: zobag COMMAND"},
        {{"-h"}, "Usage: zobag COMMAND"},
        {{"--version"}, "zobag 0.0.5"},
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"print"}, "missing FILE operand"},
        {{"print", file, "extra"}, "too many operands: 'extra' after FILE"},
        {{"print", "--raw", file}, "unknown option '--raw'"},
        {{"to-json", file, "--zip"}, "unknown option '--zip'"},
        {{"from-json", file}, "missing OUT operand"},
        {{"from-json", file, Path("x"), "--flat", "--zip"}, "--flat and --zip exclude each other"},
        {{"split", file, "100"}, "missing OUTDIR operand"},
        {{"split", file, "0", Path("d")}, "LIMIT must be a positive whole number"},
        {{"split", file, "-5", Path("d")}, "unknown option '-5'"},
        {{"split", file, "12x", Path("d")},
         "LIMIT must be a positive whole number of bytes, not '12x'"},
        {{"split", file, "99999999999999999999999", Path("d")}, "LIMIT must be"},
        {{"concat"}, "missing OUT operand"},
        {{"concat", Path("out")}, "missing PIECE operand"},
    };
    for (string command : {"print", "dump", "peek", "to-json", "from-json", "split", "concat"})
        for (const char* flag : {"--help", "-h"})
            calls.push_back({{command, flag}, "Usage: zobag " + command});
    for (const auto& [call, message] : calls) {
        Result result = Run(call);
        string why = testing::PrintToString(call) + "\n" + result.out + result.err;
        bool help = message.rfind("Usage", 0) == 0 || message.rfind("zobag", 0) == 0;
        EXPECT_EQ(result.status, help ? 0 : 2) << why;
        const string& said = help ? result.out : result.err;
        EXPECT_NE(said.find(help ? message : ": " + message), string::npos) << why;
        EXPECT_EQ(help ? result.err : result.out, "") << why;
        EXPECT_EQ(result.err.find("Try 'zobag") != string::npos, !help) << why;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("d")));
}

// Every input form prints, dumps and converts to JSON alike, and from-json
// gives back each form it writes byte for byte.
TEST_F(ZobagTool, EveryFormPrintsDumpsAndConvertsAlike) {
    std::unique_ptr<ZoBag> bag = Sample();
    testing::internal::CaptureStdout();
    bag->PrintToStream();
    fflush(stdout);
    string printed = testing::internal::GetCapturedStdout(), plain = zotest::Plain(*bag);
    string file = Save(*bag, "file.bag"), json = Run({"to-json", file}).out;
    Spit(Path("plain.flat"), plain);
    Spit(Path("zip.flat"), zotest::Compressed(*bag));
    Spit(Path("plain.bag"), Le32(static_cast<uint32_t>(plain.size())) + plain);
    // Each form and the option that makes from-json write it ("-": none does).
    const std::pair<string, string> forms[] = {
        {"file.bag", ""}, {"plain.flat", "--flat"}, {"zip.flat", "--zip"}, {"plain.bag", "-"}};
    for (const auto& [name, option] : forms) {
        string path = Path(name);
        EXPECT_EQ(Run({"print", path}).out, printed) << name;
        EXPECT_EQ(Run({"dump", path}).out, Decimal(plain)) << name;
        EXPECT_EQ(Run({"to-json", path}).out, json) << name;
        if (option == "-") continue;
        Args back = {"from-json", "-", path + ".back"};
        if (!option.empty()) back.push_back(option);
        ASSERT_EQ(Run(back, json).status, 0) << name;
        EXPECT_EQ(Slurp(path + ".back"), Slurp(path)) << name;
    }
    EXPECT_EQ(Run({"print", "-"}, Slurp(file)).out, printed);
    string compact = Run({"to-json", "--compact", file}).out;
    EXPECT_EQ(std::count(compact.begin(), compact.end(), '\n'), 1);
    Spit(Path("c.json"), compact);
    ASSERT_EQ(Run({"from-json", Path("c.json"), Path("c.bag")}).status, 0);
    EXPECT_EQ(Slurp(Path("c.bag")), Slurp(file));
    string raw = Run({"dump", "--raw", file}).out;
    EXPECT_EQ(raw, Decimal(Slurp(file)));
    string lead = std::to_string(Slurp(file).size() - 4) + " 0 0 0 66 97 71 1 ";  // L, "BaG", 1
    EXPECT_EQ(raw.rfind(lead, 0), 0u) << raw;
}

TEST_F(ZobagTool, PeekReadsTheHeaderOnly) {
    ZoBag bag(0x1234, 0);
    bag.who = 0xAB;
    bag.when = static_cast<uint32_t>(-7);
    bag.Setint32("n", 7, 0);
    string file = Save(bag, "a.bag");
    Result result = Run({"peek", file});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "form\t= bag file\nwhat\t= 0x1234\nwho\t= 0xab\nwhen\t= -7\nitems\t= 1\n"
              "file\t= " +
                  std::to_string(Slurp(file).size()) + " bytes\nflat\t= 49 bytes\n");
    // Records cut short: print refuses the bag, peek still shows its header.
    string damaged = FlatOf(5, {{ZoBag::Hash("n"), "n", T_INT32, {"\1\2\3\4"}}});
    damaged.resize(damaged.size() - 2);
    damaged.replace(16, 4, Le32(static_cast<uint32_t>(damaged.size())));
    Spit(Path("damaged.flat"), damaged);
    result = Run({"peek", Path("damaged.flat")});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("form\t= plain flat bag\nwhat\t= 0x5\n"), string::npos);
    ExpectFailure({"print", Path("damaged.flat")}, "records are not valid");
}

TEST_F(ZobagTool, SplitAndConcatGiveBackTheBagInEveryForm) {
    ZoBag bag(0x77, 0);
    bag.who = 1;
    bag.when = 2;
    for (int i = 0; i < 20; i++)
        bag.Setint32("n", i, 0);
    bag.Setstring("s", "a string of some length", 0);
    string file = Save(bag, "a.bag");
    for (const char* option : {"", "--flat", "--zip"}) {
        string pieces = Path("pieces"s + option);
        Args args = {"split", file, "80", pieces};
        if (*option != '\0') args.push_back(option);
        Result split = Run(args);
        ASSERT_EQ(split.status, 0) << split.err;
        Args names;
        std::istringstream lines(split.out);
        for (string name; std::getline(lines, name);)
            names.push_back(name);
        ASSERT_GT(names.size(), 3u);
        EXPECT_EQ(names[0], pieces + (*option == '\0' ? "/piece-001.bag" : "/piece-001.flat"));
        for (const string& name : names)  // the limit holds the plain flat size
            EXPECT_LE(option == "--flat"s ? Slurp(name).size() : 0, 80u) << name;
        names.insert(names.begin(), {"concat", Path("whole.bag")});
        ASSERT_EQ(Run(names).status, 0);
        EXPECT_EQ(Slurp(Path("whole.bag")), Slurp(file)) << option;
    }
}

TEST_F(ZobagTool, SplitWritesNothingItCannotDoWhole) {
    ZoBag bag(1, 0);
    bag.Setint32("n", 1, 0);
    string file = Save(bag, "a.bag");
    // One element needs 24 + 16 + 1 + 4 + 4 = 49 bytes.
    ExpectFailure({"split", file, "48", Path("small")}, "pieces of at most 48 bytes");
    EXPECT_FALSE(std::filesystem::exists(Path("small")));
    ASSERT_EQ(Run({"split", file, "49", Path("pieces")}).status, 0);
    ExpectFailure({"split", file, "49", Path("pieces")}, "already holds pieces (piece-001.bag)");
    ExpectFailure({"split", file, "49", file}, "Not a directory");
    // Split and concat go by name hash: an item only its stored hash finds is lost.
    Spit(Path("foreign.flat"), FlatOf(0, {{99, "n", T_INT32, {"\1\0\0\0"s}}}));
    ExpectFailure({"split", Path("foreign.flat"), "1000", Path("foreign")},
                  "cannot be split and merged again");
    EXPECT_FALSE(std::filesystem::exists(Path("foreign")));
}

TEST_F(ZobagTool, MalformedInputsFailWithStatus1InEveryCommand) {
    ZoBag bag(1, 0);
    bag.Setint32("n", 1, 0);
    string good = Slurp(Save(bag, "good.bag")), plain = zotest::Plain(bag),
           zipped = zotest::Compressed(bag);
    string damaged = good, wrongSize = plain, flagged = plain;
    damaged[damaged.size() - 6] ^= 0x40;
    damaged[damaged.size() - 5] ^= 0x40;
    wrongSize[16] += 1;
    flagged[3] = 7;
    std::filesystem::create_directory(Path("dir"));
    const std::tuple<const char*, string, const char*> inputs[] = {
        {"missing", "", "No such file or directory"},
        {"dir", "", "Is a directory"},
        {"empty", "", "the file is empty"},
        {"text", "just some text\n", "not a bag file or a flat bag"},
        {"cut.bag", good.substr(0, good.size() - 3), "cut short"},
        {"tail.bag", good + "xy", "2 bytes after its flat bag"},
        {"damaged.bag", damaged, "does not decompress"},
        {"cut.zip", zipped.substr(0, zipped.size() - 3), "does not decompress"},
        {"size.flat", wrongSize, "size field says 50 bytes"},
        {"short.flat", plain.substr(0, 20), "shorter than its 24-byte header"},
        {"flag.flat", flagged, "unknown compression flag 7"},
    };
    for (const auto& [file, bytes, reason] : inputs) {
        if (!bytes.empty() || file == "empty"s) Spit(Path(file), bytes);
        for (const char* command : {"print", "dump", "peek", "to-json"})
            ExpectFailure({command, Path(file)}, reason);
        ExpectFailure({"split", Path(file), "100", Path("pieces")}, reason);
        ExpectFailure({"concat", Path("out.bag"), Path("good.bag"), Path(file)}, reason);
    }
    EXPECT_FALSE(std::filesystem::exists(Path("out.bag")));
    EXPECT_FALSE(std::filesystem::exists(Path("pieces")));
}

TEST_F(ZobagTool, JsonAndWriteFailuresLeaveTheOutputUntouched) {
    Spit(Path("out.bag"), "precious");
    ZoBag pointers(0, 0);
    pointers.Setpointer("p", &pointers, 0);
    string bag = Save(pointers, "pointers.bag");
    ExpectFailure({"from-json", "-", Path("out.bag")}, "/what: a header word", R"({"what": "no"})");
    ExpectFailure({"from-json", Path("missing.json"), Path("out.bag")}, "No such file");
    ExpectFailure({"from-json", bag, Path("out.bag")}, "not valid JSON");
    EXPECT_EQ(Slurp(Path("out.bag")), "precious");
    ExpectFailure({"to-json", bag}, "/items/0: the item holds pointers");
    ExpectFailure({"from-json", "-", Path("no/such/dir/out.bag")}, "No such file or directory",
                  "{}");
    ZoBag empty(1, 0);
    Result full = Run({"to-json", Save(empty, "a.bag")}, "", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("No space left on device"), string::npos) << full.err;
}

}  // namespace
