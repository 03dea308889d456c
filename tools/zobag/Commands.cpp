#include "Commands.h"

#include <zolib/bag/Bag.h>
#include <zolib/containers/List.h>
#include <zolib/json/BagJson.h>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

using std::string;

string Subject(const string& path) {
    return path == "-" ? "standard input" : path;
}

// The bag stored in `path` in any form, or null after reporting why not.
std::unique_ptr<ZoBag> Load(const string& path) {
    string error;
    std::unique_ptr<ZoBag> bag(LoadBag(path, &error));
    if (bag == nullptr) Failed(Subject(path), error);
    return bag;
}

int Save(const string& path, ZoBag* bag, BagForm form) {
    string bytes, error;
    if (!BagBytes(bag, form, &bytes, &error) || !WriteFile(path, bytes, &error))
        return Failed(path == "-" ? "standard output" : path, error);
    return kExitOk;
}

// A list of pieces that deletes them with itself.
class Pieces {
  public:
    Pieces() : list(0, 1) {}
    ~Pieces() {
        for (long i = 0; i < list.Size(); i++)
            delete At(i);
    }
    Pieces(const Pieces&) = delete;
    Pieces& operator=(const Pieces&) = delete;

    ZoList* List() { return &list; }
    long Size() { return list.Size(); }
    ZoBag* At(long i) { return static_cast<ZoBag*>(list.GetItem(i)); }

  private:
    ZoList list;
};

string PlainOf(ZoBag* bag) {
    string flat(bag->FlatSize(false), '\0');
    bag->Flatten(&flat[0], nullptr, false);
    return flat;
}

// Makes `dir` when it is missing; refuses one that already holds pieces, which
// a later `concat dir/piece-*` would mix in with the new ones.
bool PrepareDirectory(const string& dir, string* error) {
    struct stat info;
    if (stat(dir.c_str(), &info) != 0) {
        if (errno != ENOENT || mkdir(dir.c_str(), 0777) != 0) {
            *error = strerror(errno);
            return false;
        }
        return true;
    }
    if (!S_ISDIR(info.st_mode)) {
        *error = strerror(ENOTDIR);
        return false;
    }
    DIR* stream = opendir(dir.c_str());
    if (stream == nullptr) {
        *error = strerror(errno);
        return false;
    }
    string found;
    while (dirent* entry = readdir(stream)) {
        if (strncmp(entry->d_name, "piece-", 6) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(stream);
    if (!found.empty()) {
        *error = "already holds pieces (" + found + "); remove them or choose another directory";
        return false;
    }
    return true;
}

string PieceName(const string& dir, long number, long count, BagForm form) {
    // As many digits as the count needs, at least 3, so names sort in order.
    string digits = std::to_string(number);
    size_t width = std::max<size_t>(3, std::to_string(count).size());
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
    return dir + "/piece-" + digits + (form == BagForm::File ? ".bag" : ".flat");
}

}  // namespace

int Failed(const string& subject, const string& message) {
    if (subject.empty())
        fprintf(stderr, "zobag: %s\n", message.c_str());
    else
        fprintf(stderr, "zobag: %s: %s\n", subject.c_str(), message.c_str());
    return kExitFailed;
}

int Misused(const string& command, const string& message) {
    string prefix = command.empty() ? "zobag" : "zobag " + command;
    fprintf(stderr, "%s: %s\nTry '%s --help'.\n", prefix.c_str(), message.c_str(), prefix.c_str());
    return kExitUsage;
}

int RunPrint(const CommandLine& line) {
    std::unique_ptr<ZoBag> bag = Load(line.operands[0]);
    if (bag == nullptr) return kExitFailed;
    bag->PrintToStream();
    return kExitOk;
}

int RunDump(const CommandLine& line) {
    const string& path = line.operands[0];
    string bytes, plain, error;
    BagForm form;
    if (!ReadFile(path, &bytes, &error)) return Failed(Subject(path), error);
    if (!line.raw) {
        if (!PlainFlatOf(bytes, &form, &plain, &error)) return Failed(Subject(path), error);
        bytes.swap(plain);
    }
    if (bytes.size() > static_cast<size_t>(INT_MAX))
        return Failed(Subject(path), "too large to dump");
    DumpData(bytes.data(), static_cast<int>(bytes.size()));
    return kExitOk;
}

int RunPeek(const CommandLine& line) {
    const string& path = line.operands[0];
    string bytes, plain, error;
    BagForm form;
    if (!ReadFile(path, &bytes, &error) || !PlainFlatOf(bytes, &form, &plain, &error))
        return Failed(Subject(path), error);
    unsigned long what, who, when;
    int count;
    if (!PeekInFlatBag(plain.data(), static_cast<long>(plain.size()), &what, &who, &when, &count))
        return Failed(Subject(path), "the flat bag's header cannot be read");
    printf("form\t= %s\n", BagFormName(form));
    printf("what\t= 0x%lx\n", what);
    printf("who\t= 0x%lx\n", who);
    printf("when\t= %ld\n", static_cast<long>(static_cast<int32_t>(when)));
    printf("items\t= %d\n", count);
    printf("file\t= %zu bytes\n", bytes.size());
    printf("flat\t= %zu bytes\n", plain.size());
    return kExitOk;
}

int RunToJson(const CommandLine& line) {
    const string& path = line.operands[0];
    std::unique_ptr<ZoBag> bag = Load(path);
    if (bag == nullptr) return kExitFailed;
    string json, error;
    if (!ZoBagToJson(bag.get(), line.compact ? -1 : 2, &json, &error))
        return Failed(Subject(path), error);
    json.push_back('\n');
    fwrite(json.data(), 1, json.size(), stdout);  // main checks standard output
    return kExitOk;
}

int RunFromJson(const CommandLine& line) {
    const string& path = line.operands[0];
    string text, error;
    if (!ReadFile(path, &text, &error)) return Failed(Subject(path), error);
    // The whole input is read before the output is opened, so a bad input
    // never truncates an existing file.
    std::unique_ptr<ZoBag> bag(ZoBagFromJson(text.data(), text.size(), &error));
    if (bag == nullptr) return Failed(Subject(path), error);
    return Save(line.operands[1], bag.get(), line.output);
}

int RunSplit(const CommandLine& line) {
    const string& path = line.operands[0];
    const string& limitText = line.operands[1];
    const string& dir = line.operands[2];
    long limit = 0;
    const char* end = limitText.data() + limitText.size();
    auto parsed = std::from_chars(limitText.data(), end, limit);
    if (limitText.empty() || limitText[0] == '-' || parsed.ec != std::errc() || parsed.ptr != end ||
        limit < 1)
        return Misused("split",
                       "LIMIT must be a positive whole number of bytes, not '" + limitText + "'");

    std::unique_ptr<ZoBag> bag = Load(path);
    if (bag == nullptr) return kExitFailed;
    Pieces pieces;
    if (!bag->Split(pieces.List(), limit))
        return Failed(Subject(path), "cannot cut it into pieces of at most " +
                                         std::to_string(limit) +
                                         " bytes: an element does not fit (see 'zobag split "
                                         "--help')");
    // Pieces carry the bag's header words, so that concat can give them back.
    for (long i = 0; i < pieces.Size(); i++) {
        pieces.At(i)->what = bag->what;
        pieces.At(i)->who = bag->who;
        pieces.At(i)->when = bag->when;
    }
    // Split and Concat find items by name hash; a bag only foreign bytes can
    // make (two items of one hash, a stored hash that is not its name's) would
    // not come back whole. Say so rather than write pieces that lose items.
    ZoBag whole(0, 0);
    whole.Concat(pieces.List());
    whole.what = bag->what;
    whole.who = bag->who;
    whole.when = bag->when;
    if (PlainOf(&whole) != PlainOf(bag.get()))
        return Failed(Subject(path),
                      "its items cannot be split and merged again (two items answer to one "
                      "hash, or an item's stored hash is not its name's); nothing written");

    string error;
    if (!PrepareDirectory(dir, &error)) return Failed(dir, error);
    for (long i = 0; i < pieces.Size(); i++) {
        string name = PieceName(dir, i + 1, pieces.Size(), line.output);
        if (Save(name, pieces.At(i), line.output) != kExitOk) return kExitFailed;
        printf("%s\n", name.c_str());
    }
    return kExitOk;
}

int RunConcat(const CommandLine& line) {
    Pieces pieces;
    for (size_t i = 1; i < line.operands.size(); i++) {
        std::unique_ptr<ZoBag> piece = Load(line.operands[i]);
        if (piece == nullptr) return kExitFailed;
        if (pieces.List()->AddItem(piece.get()) == 0) return Failed("", "out of memory");
        piece.release();  // the list owns it now
    }
    ZoBag whole(0, 0);
    whole.Concat(pieces.List());
    whole.what = pieces.At(0)->what;
    whole.who = pieces.At(0)->who;
    whole.when = pieces.At(0)->when;
    return Save(line.operands[0], &whole, line.output);
}
