// zobag: inspects, converts, splits and merges bags stored in files.
//
// Arguments are read here rather than with ZoArgs: its options take the plain
// arguments after them as values and it ignores plain arguments before the
// first option, so "zobag print FILE" would reach it empty, and it reads
// "--help" as its end-of-options marker.
#include <zolib/ZoLib.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"

#ifdef ZOBAG_WITH_NATS
int RunNats(int argc, char** argv);  // pub and sub, NatsCommands.cpp
#endif

namespace {

using std::string;

enum Options : unsigned {
    kRaw = 1,      // --raw
    kCompact = 2,  // --compact
    kForms = 4,    // --flat, --zip
};

struct Command {
    const char* name;
    const char* operands;  // as the usage line shows them
    size_t least, most;    // number of operands
    unsigned options;
    const char* summary;
    const char* help;
    int (*run)(const CommandLine&);
};

const char kFormsHelp[] =
    "  --flat      write a plain flat bag instead of a bag file\n"
    "  --zip       write a compressed flat bag instead of a bag file\n";

const Command kCommands[] = {
    {"print", "FILE", 1, 1, 0, "print the header words and every element",
     "Prints the bag as ZoBag::PrintToStream does: the header words, the plain flat\n"
     "size, then every item with its elements. A nested bag shows its `what` only.\n",
     RunPrint},
    {"dump", "FILE", 1, 1, kRaw, "print the bytes of the plain flat form",
     "Prints each byte of the bag's plain flat form as a decimal number and a space,\n"
     "as DumpData does, then a newline. A compressed input is decompressed first.\n"
     "\nOptions:\n"
     "  --raw       print the file's own bytes as they are\n",
     RunDump},
    {"peek", "FILE", 1, 1, 0, "print the header words, item count and sizes",
     "Reads the header only: the form of the file, what, who, when, the number of\n"
     "items, and the sizes of the file and of the plain flat form. The item records\n"
     "are not read, so peek also works on a bag whose records are damaged.\n",
     RunPeek},
    {"to-json", "FILE", 1, 1, kCompact, "write the bag as JSON on standard output",
     "Writes the JSON form of the bag: header words, items in order, names, types\n"
     "and the exact bytes of every element, so that from-json gives back the same\n"
     "bag byte for byte. docs/zobag.md describes the form. A bag holding pointers\n"
     "has no JSON form.\n"
     "\nOptions:\n"
     "  --compact   write one line instead of indented text\n",
     RunToJson},
    {"from-json", "JSON OUT", 2, 2, kForms, "make a bag file from the JSON form",
     "Reads the JSON form of a bag (as to-json writes it; \"-\" reads standard input)\n"
     "and writes the bag to OUT. Nothing is written when the JSON is not valid.\n"
     "\nOptions:\n",
     RunFromJson},
    {"split", "FILE LIMIT OUTDIR", 3, 3, kForms, "cut the bag into pieces of at most LIMIT bytes",
     "Cuts the bag into pieces whose plain flat size is at most LIMIT bytes, filled\n"
     "in item and element order (elements are never cut), and writes them to OUTDIR\n"
     "as piece-001.bag, piece-002.bag, ... (made when missing; it must not already\n"
     "hold pieces). Prints each piece's name. Every piece carries the bag's header\n"
     "words, so concat gives them back.\n"
     "\n"
     "Fails when one element with its item's name does not fit an empty piece\n"
     "(24 + 16 + name length + 4 + element size bytes), or when a buffer or nested\n"
     "bag does not fit the room left in the current piece.\n"
     "\nOptions:\n",
     RunSplit},
    {"concat", "OUT PIECE...", 2, SIZE_MAX, kForms, "merge pieces, in order, into one bag",
     "Merges the items of every PIECE, in the order given, into one bag and writes it\n"
     "to OUT: elements of an item spread over several pieces are joined in order.\n"
     "The header words are those of the first piece.\n"
     "\nOptions:\n",
     RunConcat},
};

const Command* Find(const string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

// What is wrong with the number of operands, or "" when it is right:
// "missing LIMIT operand", "too many operands: 'x' after FILE".
string OperandError(const Command& command, const std::vector<string>& operands) {
    std::vector<string> names;  // FILE, LIMIT, ... as the usage line shows them
    for (const char* p = command.operands; *p != '\0';) {
        size_t n = strcspn(p, " ");
        names.emplace_back(p, n);
        p += n + (p[n] == ' ' ? 1 : 0);
    }
    if (operands.size() < command.least) {
        string name = names[std::min(operands.size(), names.size() - 1)];
        if (name.size() > 3 && name.compare(name.size() - 3, 3, "...") == 0)
            name.resize(name.size() - 3);
        return "missing " + name + " operand";
    }
    if (operands.size() > command.most)
        return "too many operands: '" + operands[command.most] + "' after " + command.operands;
    return "";
}

void PrintUsage() {
    printf(
        "Usage: zobag COMMAND [OPTIONS] ARGUMENTS\n"
        "\n"
        "Inspects, converts, splits and merges ZoLib bags stored in files: bag files\n"
        "(SaveToFile's length word and compressed flat bag) and flat bags, plain or\n"
        "compressed. The form of an input is found from its bytes; \"-\" names\n"
        "standard input.\n"
        "\n"
        "Commands:\n");
    for (const Command& command : kCommands) {
        string synopsis = string(command.name) + " " + command.operands;
        printf("  %-24s%s\n", synopsis.c_str(), command.summary);
    }
    printf(
        "\n"
        "Options:\n"
        "  -h, --help     show this help, or a command's with 'zobag COMMAND --help'\n"
        "  --version      show the version\n"
        "\n"
        "Exit status: 0 on success, 1 when an input cannot be read or is not valid or an\n"
        "output cannot be written, 2 for bad arguments.\n");
}

void PrintHelp(const Command& command) {
    printf("Usage: zobag %s [OPTIONS] %s\n\n%s", command.name, command.operands, command.help);
    if (command.options & kForms) printf("%s", kFormsHelp);
    printf("%s  -h, --help  show this help\n", command.options != 0 ? "" : "\nOptions:\n");
}

int Run(int argc, char** argv) {
    if (argc < 2) return Misused("", "no command given");
    string first = argv[1];
    if (first == "-h" || first == "--help") {
        PrintUsage();
        return kExitOk;
    }
    if (first == "--version") {
        printf("zobag %s (ZoLib %s, build %s)\n", ZoLib_Version, ZoLib_Version, ZoLib_Build_Id);
        return kExitOk;
    }
#ifdef ZOBAG_WITH_NATS
    if (first == "pub" || first == "sub") return RunNats(argc, argv);
#endif
    const Command* command = Find(first);
    if (command == nullptr) {
        if (!first.empty() && first[0] == '-') return Misused("", "unknown option '" + first + "'");
        return Misused("", "unknown command '" + first + "'");
    }

    CommandLine line;
    bool help = false, formGiven = false, optionsEnded = false;
    for (int i = 2; i < argc; i++) {
        string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            line.operands.push_back(arg);  // "-" alone names standard input
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "-h" || arg == "--help") {
            help = true;
        } else if (arg == "--raw" && (command->options & kRaw)) {
            line.raw = true;
        } else if (arg == "--compact" && (command->options & kCompact)) {
            line.compact = true;
        } else if ((arg == "--flat" || arg == "--zip") && (command->options & kForms)) {
            BagForm form = arg == "--flat" ? BagForm::Plain : BagForm::Zipped;
            if (formGiven && form != line.output)
                return Misused(command->name, "--flat and --zip exclude each other");
            line.output = form;
            formGiven = true;
        } else {
            return Misused(command->name, "unknown option '" + arg + "'");
        }
    }
    if (help) {
        PrintHelp(*command);
        return kExitOk;
    }
    string wrong = OperandError(*command, line.operands);
    if (!wrong.empty()) return Misused(command->name, wrong);
    return command->run(line);
}

}  // namespace

int main(int argc, char** argv) {
    int status = Run(argc, argv);
    // Output goes through stdio: a full disk or a closed pipe shows up here.
    errno = 0;
    if (fflush(stdout) != 0 || ferror(stdout)) {
        if (status == kExitOk)
            fprintf(stderr, "zobag: standard output: %s\n", strerror(errno != 0 ? errno : EIO));
        return kExitFailed;
    }
    return status;
}
