// Runs the built zobag on real files, as a user would.
#include <zolib/bag/Bag.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bag/FlatBytes.h"

namespace {

using std::string;
using namespace std::string_literals;

struct Result {
    int status;  // exit status, or 128 + signal
    string out;
    string err;
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

// A bag with something of everything JSON has to carry exactly.
std::unique_ptr<ZoBag> Tricky() {
    std::unique_ptr<ZoBag> bag =
        BagOf(FlatOf(0xCAFE, {{12345, "stored hash", T_INT32, {"\1\0\0\0"s}},
                              {ZoBag::Hash("\xfe"), "\xfe", 77, {"?"}}}));
    bag->who = 0xFFFFFFFF;
    bag->when = 0x80000000;
    bag->Setstring("s", "text", 0);
    bag->Setdata("s", T_STRING, "\xff no nul", 8, 0);
    bag->Setbool("b", true, 0);
    bag->Setint8("c", -128, 0);
    bag->Setint16("h", 32767, 0);
    bag->Setint64("l", (1ll << 53) + 1, 0);
    bag->Setfloat32("f", 0.1f, 0);
    uint32_t nanWithPayload = 0x7FC0BEEF;
    bag->Setdata("f", T_FLOAT32, &nanWithPayload, 4, 0);
    bag->Setfloat64("d", -0.0, 0);
    bag->Setdata("d", T_FLOAT64, "\1\2", 2, 0);
    bag->Setdata("buf", T_BUFFER, "\0\1\2"s.data(), 3, 0);
    ZoBag inner(3, 0);
    inner.Setstring("in", "side", 0);
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

    // Runs zobag with `args`, `input` on its standard input and its standard
    // output going to `outPath` (a file of the test's own when empty).
    Result Run(const std::vector<string>& args, const string& input = "",
               const string& outPath = "") {
        string inFile = Path(".in"), outFile = outPath.empty() ? Path(".out") : outPath,
               errFile = Path(".err");
        Spit(inFile, input);
        std::vector<char*> argv = {const_cast<char*>(ZOBAG_PATH)};
        for (const string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);

        pid_t pid = fork();
        if (pid == 0) {
            // A sanitizer report must not pass for the tool's own failure status.
            for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
                const char* old = getenv(name);
                setenv(name, (string(old != nullptr ? old : "") + ":exitcode=86").c_str(), 1);
            }
            int in = open(inFile.c_str(), O_RDONLY);
            int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0) _exit(125);
            dup2(in, 0), dup2(out, 1), dup2(err, 2);
            execv(ZOBAG_PATH, argv.data());
            _exit(126);
        }
        Result result{-1, "", ""};
        if (pid < 0) {
            ADD_FAILURE() << "fork failed";
            return result;
        }
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                ADD_FAILURE() << "zobag did not finish within 60 s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = outPath.empty() ? Slurp(outFile) : "";
        result.err = Slurp(errFile);
        return result;
    }

    // A failure the tool reports itself: status 1 and one line that says why.
    void ExpectFailure(const std::vector<string>& args, const string& reason,
                       const string& input = "") {
        Result result = Run(args, input);
        string call;
        for (const string& arg : args)
            call += " " + arg;
        EXPECT_EQ(result.status, 1) << call << "\n" << result.err;
        EXPECT_EQ(result.err.rfind("zobag: ", 0), 0u) << call << "\n" << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_NE(result.err.find(reason), string::npos) << call << "\n" << result.err;
    }

    string Save(ZoBag& bag, const string& name) {
        string path = Path(name);
        EXPECT_TRUE(SaveToFile(path.c_str(), &bag));
        return path;
    }

    string dir;
};

TEST_F(ZobagTool, HelpForTheToolAndEachCommand) {
    for (const char* flag : {"--help", "-h"}) {
        Result result = Run({flag});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind("Usage: zobag COMMAND", 0), 0u) << result.out;
    }
    for (const char* command :
         {"print", "dump", "peek", "to-json", "from-json", "split", "concat"}) {
        Result result = Run({command, "--help"});
        EXPECT_EQ(result.status, 0) << command;
        EXPECT_EQ(result.out.rfind("Usage: zobag "s + command, 0), 0u) << result.out;
        EXPECT_NE(Run({"--help"}).out.find("  "s + command + " "), string::npos) << command;
        // Help wins over missing operands.
        EXPECT_EQ(Run({command, "-h"}).status, 0) << command;
    }
    Result version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("zobag 0.0.5", 0), 0u) << version.out;
}

TEST_F(ZobagTool, BadArgumentsExitWithStatus2) {
    ZoBag bag(1, 0);
    string file = Save(bag, "a.bag");
    // Each refusal says what is wrong.
    const std::vector<std::pair<std::vector<string>, string>> calls = {
        {{}, "no command given"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"--frobnicate"}, "unknown option '--frobnicate'"},
        {{"print"}, "missing FILE operand"},
        {{"print", file, "extra"}, "too many operands: 'extra' after FILE"},
        {{"print", "--raw", file}, "unknown option '--raw'"},
        {{"dump", "--flat", file}, "unknown option '--flat'"},
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
    for (const auto& [call, message] : calls) {
        Result result = Run(call);
        string text;
        for (const string& arg : call)
            text += " " + arg;
        EXPECT_EQ(result.status, 2) << text;
        EXPECT_NE(result.err.find(": " + message), string::npos) << text << "\n" << result.err;
        EXPECT_NE(result.err.find("Try 'zobag"), string::npos) << text << "\n" << result.err;
        EXPECT_EQ(result.out, "") << text;
    }
    EXPECT_FALSE(std::filesystem::exists(Path("d")));
}

TEST_F(ZobagTool, JsonRoundTripIsByteIdenticalInEveryForm) {
    std::unique_ptr<ZoBag> bag = Tricky();
    const struct {
        const char* name;
        string bytes;
        const char* option;
    } forms[] = {{"file.bag", "", nullptr},
                 {"plain.flat", PlainOf(*bag), "--flat"},
                 {"zipped.flat", ZippedOf(*bag), "--zip"}};
    for (const auto& form : forms) {
        string path = Path(form.name);
        if (form.bytes.empty())
            Save(*bag, form.name);
        else
            Spit(path, form.bytes);

        Result json = Run({"to-json", path});
        ASSERT_EQ(json.status, 0) << json.err;
        Spit(path + ".json", json.out);
        std::vector<string> back = {"from-json", path + ".json", path + ".back"};
        if (form.option != nullptr) back.push_back(form.option);
        Result made = Run(back);
        ASSERT_EQ(made.status, 0) << made.err;
        EXPECT_EQ(Slurp(path + ".back"), Slurp(path)) << form.name;
        // The same JSON whichever form the bag came from.
        EXPECT_EQ(json.out, Run({"to-json", Path("file.bag")}).out);
    }
}

TEST_F(ZobagTool, JsonThroughStandardInput) {
    std::unique_ptr<ZoBag> bag = Tricky();
    string file = Save(*bag, "a.bag");
    Result compact = Run({"to-json", "--compact", file});
    ASSERT_EQ(compact.status, 0);
    EXPECT_EQ(std::count(compact.out.begin(), compact.out.end(), '\n'), 1);
    ASSERT_EQ(Run({"from-json", "-", Path("b.bag")}, compact.out).status, 0);
    EXPECT_EQ(Slurp(Path("b.bag")), Slurp(file));
    Result piped = Run({"print", "-"}, Slurp(file));
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.out, Run({"print", file}).out);
}

TEST_F(ZobagTool, PrintMatchesPrintToStreamForEveryForm) {
    std::unique_ptr<ZoBag> bag = Tricky();
    testing::internal::CaptureStdout();
    bag->PrintToStream();
    fflush(stdout);
    string expected = testing::internal::GetCapturedStdout();
    Spit(Path("p.flat"), PlainOf(*bag));
    Spit(Path("z.flat"), ZippedOf(*bag));
    for (const string& path : {Save(*bag, "f.bag"), Path("p.flat"), Path("z.flat")}) {
        Result result = Run({"print", path});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, expected) << path;
    }
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

TEST_F(ZobagTool, DumpPrintsThePlainBytesOrTheFileAsItIs) {
    ZoBag bag(0x41, 0);
    string file = Save(bag, "a.bag");
    auto decimal = [](const string& bytes) {
        string text;
        for (unsigned char c : bytes)
            text += std::to_string(c) + " ";
        return text + "\n";
    };
    EXPECT_EQ(Run({"dump", file}).out, decimal(PlainOf(bag)));
    EXPECT_EQ(Run({"dump", "--raw", file}).out, decimal(Slurp(file)));
    string lead = std::to_string(Slurp(file).size() - 4) + " 0 0 0 66 97 71 1 ";  // L, "BaG", 1
    EXPECT_EQ(Run({"dump", "--raw", file}).out.rfind(lead, 0), 0u);
}

TEST_F(ZobagTool, SplitAndConcatGiveBackTheBag) {
    ZoBag bag(0x77, 0);
    bag.who = 1;
    bag.when = 2;
    for (int i = 0; i < 20; i++)
        bag.Setint32("n", i, 0);
    bag.Setstring("s", "a string of some length", 0);
    string file = Save(bag, "a.bag");

    for (const char* option : {"", "--flat", "--zip"}) {
        string pieces = Path("pieces"s + option);
        std::vector<string> args = {"split", file, "80", pieces};
        if (*option != '\0') args.push_back(option);
        Result split = Run(args);
        ASSERT_EQ(split.status, 0) << split.err;

        std::vector<string> names;
        std::istringstream lines(split.out);
        for (string name; std::getline(lines, name);)
            names.push_back(name);
        ASSERT_GT(names.size(), 3u);
        EXPECT_EQ(names[0], pieces + (*option == '\0' ? "/piece-001.bag" : "/piece-001.flat"));
        for (const string& name : names) {
            std::unique_ptr<ZoBag> piece(*option == '\0' ? LoadFromFile(name.c_str())
                                                         : BagOf(Slurp(name)).release());
            ASSERT_NE(piece, nullptr) << name;
            EXPECT_LE(piece->FlatSize(false), 80u) << name;
            EXPECT_EQ(piece->what, 0x77u);
            if (string(option) == "--flat") {
                EXPECT_LE(Slurp(name).size(), 80u);
            }
        }

        std::vector<string> concat = {"concat", Path("whole.bag")};
        concat.insert(concat.end(), names.begin(), names.end());
        ASSERT_EQ(Run(concat).status, 0);
        EXPECT_EQ(Slurp(Path("whole.bag")), Slurp(file)) << option;
    }
}

TEST_F(ZobagTool, PieceNamesSortInOrderPastAThousand) {
    ZoBag bag(5, 0);
    for (int i = 0; i < 1001; i++)
        bag.Setint8("n", static_cast<char>(i), 0);
    string file = Save(bag, "a.bag");
    // One element per piece: 24 + 16 + 1 + 4 + 1 bytes.
    Result split = Run({"split", file, "46", Path("pieces")});
    ASSERT_EQ(split.status, 0) << split.err;
    EXPECT_EQ(split.out.rfind(Path("pieces/piece-0001.bag\n"), 0), 0u);
    std::vector<string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Path("pieces")))
        names.push_back(entry.path().string());
    ASSERT_EQ(names.size(), 1001u);
    std::sort(names.begin(), names.end());  // as a shell glob lists them
    names.insert(names.begin(), {"concat", Path("whole.bag")});
    ASSERT_EQ(Run(names).status, 0);
    EXPECT_EQ(Slurp(Path("whole.bag")), Slurp(file));
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

    // Split and Concat go by name hash: an item only its stored hash finds is lost.
    Spit(Path("foreign.flat"), FlatOf(0, {{99, "n", T_INT32, {"\1\0\0\0"s}}}));
    ExpectFailure({"split", Path("foreign.flat"), "1000", Path("foreign")},
                  "cannot be split and merged again");
    EXPECT_FALSE(std::filesystem::exists(Path("foreign")));
}

TEST_F(ZobagTool, MalformedInputsFailWithStatus1) {
    ZoBag bag(1, 0);
    bag.Setint32("n", 1, 0);
    string good = Slurp(Save(bag, "good.bag"));
    Spit(Path("empty"), "");
    Spit(Path("text"), "just some text\n");
    Spit(Path("cut.bag"), good.substr(0, good.size() - 3));
    string damaged = good;
    damaged[damaged.size() - 6] ^= 0x40;
    damaged[damaged.size() - 5] ^= 0x40;
    Spit(Path("damaged.bag"), damaged);
    string wrongSize = PlainOf(bag);
    wrongSize[16] += 1;
    Spit(Path("size.flat"), wrongSize);
    std::filesystem::create_directory(Path("dir"));

    const struct {
        const char* file;
        const char* reason;
    } inputs[] = {
        {"missing", "No such file or directory"},
        {"dir", "Is a directory"},
        {"empty", "the file is empty"},
        {"text", "not a bag file or a flat bag"},
        {"cut.bag", "cut short"},
        {"damaged.bag", "does not decompress"},
        {"size.flat", "size field says 50 bytes"},
    };
    for (const auto& input : inputs) {
        for (const char* command : {"print", "dump", "peek", "to-json"})
            ExpectFailure({command, Path(input.file)}, input.reason);
        ExpectFailure({"split", Path(input.file), "100", Path("pieces")}, input.reason);
        ExpectFailure({"concat", Path("out.bag"), Path("good.bag"), Path(input.file)},
                      input.reason);
    }
    EXPECT_FALSE(std::filesystem::exists(Path("out.bag")));
    EXPECT_FALSE(std::filesystem::exists(Path("pieces")));

    Spit(Path("bad.json"), "{\"items\": [}");
    ExpectFailure({"from-json", Path("bad.json"), Path("out.bag")}, "not valid JSON");
    ExpectFailure({"from-json", Path("missing.json"), Path("out.bag")}, "No such file");
    ExpectFailure({"from-json", Path("good.bag"), Path("out.bag")}, "not valid JSON");
    ExpectFailure({"from-json", "-", Path("out.bag")}, "/items/0/values/0: an int8 element",
                  R"({"items": [{"name": "a", "type": "int8", "values": [999]}]})");

    ZoBag pointers(0, 0);
    pointers.Setpointer("p", &pointers, 0);
    ExpectFailure({"to-json", Save(pointers, "pointers.bag")}, "/items/0: the item holds pointers");
}

TEST_F(ZobagTool, BadJsonLeavesTheOutputUntouched) {
    Spit(Path("out.bag"), "precious");
    Spit(Path("bad.json"), R"({"what": "no"})");
    ExpectFailure({"from-json", Path("bad.json"), Path("out.bag")}, "/what: a header word");
    EXPECT_EQ(Slurp(Path("out.bag")), "precious");
}

TEST_F(ZobagTool, WriteFailuresAreReported) {
    Spit(Path("a.json"), "{}");
    ExpectFailure({"from-json", Path("a.json"), Path("no/such/dir/out.bag")},
                  "No such file or directory");
    ZoBag bag(1, 0);
    string file = Save(bag, "a.bag");
    Result full = Run({"to-json", file}, "", "/dev/full");
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("No space left on device"), string::npos) << full.err;
}

}  // namespace
