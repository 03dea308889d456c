// Allocation-failure sweep: every operation of the table runs with its 1st,
// 2nd, ... allocation failing (the library's allocations only, through the
// seam of tests/support/FaultInjection.h) until it runs without a failure.
// A second round keeps every allocation after the first refused one failing.
// Each attempt must give the operation's failure result or its full result,
// leave the object whole, throw nothing and leak nothing (LeakSanitizer, per
// row). ZOLIB_ALLOC_LONG=1 (scripts/soak.sh) takes larger inputs.
#include <zolib/app/AddOn.h>
#include <zolib/app/Args.h>
#include <zolib/app/Temp.h>
#include <zolib/bag/Attributes.h>
#include <zolib/bag/Bag.h>
#include <zolib/bag/Zip.h>
#include <zolib/containers/List.h>
#include <zolib/containers/Stack.h>
#include <zolib/fs/Directory.h>
#include <zolib/fs/FolderWatcher.h>
#include <zolib/fs/Path.h>
#include <zolib/messaging/Looper.h>
#include <zolib/messaging/Member.h>
#include <zolib/messaging/Multiplexer.h>
#include <zolib/messaging/Pipe.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "support/FaultInjection.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

const long kCap = 10000;  // failure points per operation, so a sweep always ends
bool keepFailing = false;
long injected = 0;  // attempts in which an allocation was refused

bool LongForm() {
    const char* v = getenv("ZOLIB_ALLOC_LONG");
    return v != nullptr && *v != '\0' && strcmp(v, "0") != 0;
}
int Scale() {
    return LongForm() ? 50 : 1;
}

// Runs op with the n-th allocation failing. Returns whether one was refused;
// a std::bad_alloc leaving the library is a fault.
template <class Op>
bool Armed(long n, Op&& op) {
    bool threw = false;
    zolib_fault_arm(n, keepFailing);
    try {
        op();
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    bool fired = zolib_fault_disarm() > 0;
    injected += fired;
    EXPECT_FALSE(threw) << "std::bad_alloc left the library";
    return fired;
}

std::string Take(char* text) {
    std::string s = text != nullptr ? text : "(null)";
    free(text);
    return s;
}

// ---- bags ----

std::string Flat(ZoBag* bag) {
    std::string bytes(bag->FlatSize(false), '\0');
    unsigned long size = 0;
    EXPECT_TRUE(bag->Flatten(&bytes[0], &size, false));
    bytes.resize(size);
    return bytes;
}

// Items of every type, several elements each; a nested bag among them.
void Fill(ZoBag* bag, int items) {
    ZoBag inner(7, 0);
    inner.Setstring("inner", "nested text", 0);
    for (int i = 0; i < items; i++) {
        std::string k = std::to_string(i);
        bag->Setstring(("s" + k).c_str(), "a string value long enough", 0);
        bag->Setstring(("s" + k).c_str(), "second", 0);
        bag->Setbool(("b" + k).c_str(), true, 0);
        bag->Setint8(("c" + k).c_str(), 8, 0);
        bag->Setint16(("h" + k).c_str(), 16, 0);
        bag->Setint32(("i" + k).c_str(), i, 0);
        bag->Setint32(("i" + k).c_str(), -i, 0);
        bag->Setint64(("l" + k).c_str(), 1LL << 40, 0);
        bag->Setfloat32(("f" + k).c_str(), 1.5f, 0);
        bag->Setfloat64(("d" + k).c_str(), 2.5, 0);
        bag->Setpointer(("p" + k).c_str(), bag, 0);
        std::vector<char> buffer(300 + i, 'x');
        bag->Setdata(("x" + k).c_str(), T_BUFFER, buffer.data(), static_cast<int>(buffer.size()),
                     0);
        bag->Setbag(("n" + k).c_str(), &inner, 0);
    }
}

std::string Flattened(ZoBag* bag, bool zip) {
    std::string bytes(bag->FlatSize(zip), '\0');
    unsigned long size = bytes.size();
    EXPECT_TRUE(bag->Flatten(&bytes[0], &size, zip));
    bytes.resize(size);
    return bytes;
}

// A bag mutation: on false the bag must be as before; on true as a run
// without failures leaves it.
bool BagChange(long n, const std::function<bool(ZoBag*)>& change) {
    ZoBag expected(1, 0);
    Fill(&expected, Scale());
    EXPECT_TRUE(change(&expected));
    ZoBag bag(1, 0);
    Fill(&bag, Scale());
    std::string before = Flat(&bag);
    bool ok = false;
    bool fired = Armed(n, [&] { ok = change(&bag); });
    EXPECT_EQ(Flat(&bag), ok ? Flat(&expected) : before);
    return fired;
}

void DeleteBags(ZoList* list) {
    for (long i = 0; i < list->Size(); i++)
        delete static_cast<ZoBag*>(list->GetItem(i));
    list->Clean();
}

// ---- containers ----

std::vector<void*> Items(ZoContainer* c) {
    std::vector<void*> items;
    for (long i = 0; i < c->Size(); i++)
        items.push_back(c->GetItem(i));
    return items;
}

void* P(long i) {
    return reinterpret_cast<void*>(i * 16 + 16);
}

// The item and capacity operations of a list, each on a fresh full list:
// each either does its whole work or changes nothing.
bool ListOps(long n) {
    using Model = std::vector<void*>;
    ZoList other(4, 1);
    for (long i = 0; i < 4 * Scale(); i++)
        other.AddItem(P(100 + i));
    Model more = Items(&other);
    std::vector<std::pair<std::function<void(ZoList&)>, std::function<void(Model&)>>> ops = {
        {[](ZoList& l) { l.AddItem(P(9)); }, [](Model& v) { v.push_back(P(9)); }},
        {[](ZoList& l) { l.AddItem(0L, P(8)); }, [](Model& v) { v.insert(v.begin(), P(8)); }},
        {[&](ZoList& l) { l.AddList(&other); },
         [&](Model& v) { v.insert(v.end(), more.begin(), more.end()); }},
        {[](ZoList& l) { l.IncTo(l.Length() + 40); }, [](Model&) {}},
        {[](ZoList& l) { l.IncBy(3), l.DecBy(2); }, [](Model&) {}},
        {[](ZoList& l) { l.Adjust(); }, [](Model&) {}},
        {[](ZoList& l) { l.Reverse(); }, [](Model& v) { std::reverse(v.begin(), v.end()); }},
        {[](ZoList& l) { l.DecTo(3); }, [](Model& v) { v.resize(3); }},
    };
    bool fired = false;
    for (size_t k = 0; k < ops.size(); k++) {
        ZoList list(4, 3);
        for (long i = 0; i < 4; i++)
            list.AddItem(P(i));
        Model before = Items(&list), after = before;
        ops[k].second(after);
        fired |= Armed(n, [&] { ops[k].first(list); });
        EXPECT_TRUE(Items(&list) == before || Items(&list) == after) << "operation " << k;
        EXPECT_GE(list.Length(), list.Size()) << "operation " << k;
    }
    return fired;
}

// Pushes onto a stack that must grow, pops, pushes again (a FIFO stack then
// packs), reverses and copies it: a refused push or reversal changes nothing,
// a copy is whole or empty.
bool StackOps(long n, T_STACK_STYLE style) {
    ZoStack stack(style, 1, 1);
    std::vector<void*> model;
    bool fired = Armed(n, [&] {
        for (long i = 0; i < 6 * Scale(); i++) {
            if (stack.Push(P(i))) model.push_back(P(i));
            if (i % 3 == 2) {
                void* top = stack.Pop();
                if (style == STACK_FIFO) {
                    EXPECT_EQ(top, model.front());
                    model.erase(model.begin());
                } else {
                    EXPECT_EQ(top, model.back());
                    model.pop_back();
                }
            }
        }
        stack.Pack();
        std::vector<void*> before = Items(&stack);
        stack.Reverse();
        if (Items(&stack) != before) std::reverse(model.begin(), model.end());
        ZoStack copy(&stack);
        EXPECT_TRUE(copy.Size() == 0 || Items(&copy) == Items(&stack));
    });
    EXPECT_EQ(Items(&stack), model);
    return fired;
}

// ---- file system ----

// A scratch directory with a few files and a subdirectory, removed afterwards.
struct Scratch {
    std::string root;
    Scratch() {
        char templ[] = "/tmp/zoalloc-XXXXXX";
        root = mkdtemp(templ);
        for (const char* name : {"a.txt", "b.txt", "c.dat"})
            fclose(fopen((root + "/" + name).c_str(), "w"));
        mkdir((root + "/sub").c_str(), 0755);
        fclose(fopen((root + "/sub/d.txt").c_str(), "w"));
    }
    ~Scratch() {
        std::string cmd = "rm -rf '" + root + "'";
        EXPECT_EQ(system(cmd.c_str()), 0);
    }
};

std::set<std::string> Names(ZoList* list) {
    std::set<std::string> names;
    for (long i = 0; list != nullptr && i < list->Size(); i++) {
        ZoEntry* entry = static_cast<ZoEntry*>(list->GetItem(i));
        names.insert(entry->GetName());
        delete entry;
    }
    delete list;
    return names;
}

// A path function's result is its full value or null.
bool PathResult(long n, const std::function<char*()>& make) {
    std::string expected = Take(make());
    char* got = nullptr;
    bool fired = Armed(n, [&] { got = make(); });
    if (got != nullptr) {
        EXPECT_EQ(Take(got), expected);
    }
    return fired;
}

// A watcher whose passes are run by hand.
struct Watcher : ZoFolderWatcher {
    explicit Watcher(long period = 1000) : ZoFolderWatcher(period, nullptr) {}
    long Records() const { return changes->Size(); }
    std::set<std::string> Known() {
        std::set<std::string> names;
        for (long i = 0; i < Contents()->Size(); i++)
            names.insert(static_cast<ZoEntry*>(Contents()->GetItem(i))->GetName());
        return names;
    }
};

// A watcher that runs one whole pass on the calling thread: Process() with no
// pause, stopped from Refreshing, so that its loop ends after the pass.
struct OnePass : Watcher {
    std::multiset<std::string> reported;  // kind and name of each record
    OnePass() : Watcher(0) {}
    void Refreshing(void*) override { Stop(); }
    void Updated(ZoList* records, void*) override {
        for (long i = 0; i < records->Size(); i++) {
            T_Update* record = static_cast<T_Update*>(records->GetItem(i));
            reported.insert(std::to_string(record->kind) + record->entry->GetName());
        }
    }
};

// Channels and multiplexers with their buffer sizes in view.
struct Pipe : ZoPipe {
    Pipe() : ZoPipe(1) {}
    uint32_t Size() const { return bufferSize; }
};
struct Mux : ZoMultiplexer {
    Mux() : ZoMultiplexer(4096) {}
    uint32_t Size() const { return bufferSize; }
    long Channels() const { return channels != nullptr ? channels->Size() : 0; }
};

struct Row {
    const char* name;
    const char* routed;  // a fault found here and reported to its owners; the row is skipped
    std::function<bool(long)> run;
};

const std::vector<Row>& Rows() {
    static const std::vector<Row> rows = {
        {"ListOps", nullptr, ListOps},
        {"ListCopy", nullptr,
         [](long n) {
             ZoList list(1, 1);
             for (long i = 0; i < 5 * Scale(); i++)
                 list.AddItem(P(i));
             std::vector<void*> copied;
             bool fired = Armed(n, [&] {
                 ZoList copy(&list);
                 copied = Items(&copy);
             });
             EXPECT_TRUE(copied.empty() || copied == Items(&list));
             return fired;
         }},
        {"StackLifo", nullptr, [](long n) { return StackOps(n, STACK_LIFO); }},
        {"StackFifo", nullptr, [](long n) { return StackOps(n, STACK_FIFO); }},

        {"BagSetters", nullptr,
         [](long n) {
             ZoBag source(0, 0), inner(3, 0);
             source.Setstring("extra", "e", 0);
             Fill(&inner, 1);
             std::vector<std::function<bool(ZoBag*)>> changes = {
                 [](ZoBag* b) { return b->Setstring("new", "value", 0); },
                 [](ZoBag* b) { return b->Setint32("i0", 5, 0); },  // appended
                 [](ZoBag* b) { return b->Setstring("s0", "longer than it was before", 1); },
                 [&](ZoBag* b) { return b->CopyItem(&source, "extra", 0); },
                 [](ZoBag* b) { return b->RenameItem("s0", "renamed"); },
                 [&](ZoBag* b) { return b->Setbag("bag", &inner, 0); },
             };
             bool fired = false;
             for (const auto& change : changes)
                 fired |= BagChange(n, change);
             return fired;
         }},
        {"BagCopy", nullptr,
         [](long n) {
             ZoBag bag(1, 0);
             Fill(&bag, Scale());
             std::string copied;
             bool fired = Armed(n, [&] {
                 ZoBag copy(&bag);
                 copied = Flat(&copy);
             });
             ZoBag empty(1, 0);
             EXPECT_TRUE(copied == Flat(&bag) || copied == Flat(&empty));
             return fired;
         }},
        {"BagFlattenZip", nullptr,
         [](long n) {
             ZoBag bag(1, 0);
             Fill(&bag, Scale());
             std::string bytes(bag.FlatSize(true), '\0');
             unsigned long size = bytes.size();
             bool ok = false;
             bool fired = Armed(n, [&] { ok = bag.Flatten(&bytes[0], &size, true); });
             if (ok) {
                 ZoBag back(0, 0);
                 EXPECT_TRUE(back.Unflatten(bytes.data(), size));
                 EXPECT_EQ(Flat(&back), Flat(&bag));
             }
             // The zip blocks the library allocates: null or whole.
             char *block = nullptr, *plain = nullptr;
             unsigned long zipped = 0, unzipped = 0;
             fired |= Armed(n, [&] {
                 block = Zip(bytes.data(), size, &zipped, -1, nullptr, true);
                 if (block != nullptr) plain = Unzip(block, zipped, &unzipped, nullptr);
             });
             if (plain != nullptr) {
                 EXPECT_EQ(std::string(plain, unzipped), bytes.substr(0, size));
             }
             free(block);
             free(plain);
             return fired;
         }},
        {"BagUnflatten", nullptr,
         [](long n) {
             ZoBag bag(1, 0);
             Fill(&bag, Scale());
             bool fired = false;
             for (bool zip : {false, true}) {
                 std::string bytes = Flattened(&bag, zip);
                 ZoBag back(0, 0);
                 bool ok = false;
                 fired |= Armed(n, [&] { ok = back.Unflatten(bytes.data(), bytes.size()); });
                 EXPECT_EQ(back.CountItems(), ok ? bag.CountItems() : 0);
                 if (ok) {
                     EXPECT_EQ(Flat(&back), Flat(&bag));
                 }
             }
             return fired;
         }},
        {"BagGetbag", nullptr,
         [](long n) {
             ZoBag bag(1, 0);
             Fill(&bag, 1);
             ZoBag* inner = nullptr;
             bool ok = false;
             bool fired = Armed(n, [&] { ok = bag.Getbag("n0", &inner, 1); });
             EXPECT_EQ(ok, inner != nullptr);
             delete inner;
             return fired;
         }},
        {"BagSplitConcat", nullptr,
         [](long n) {
             ZoBag bag(1, 0);
             Fill(&bag, 2);  // more buffers would not fit the room left (a failed split)
             ZoList pieces(4, 4);
             bool split = false;
             bool fired = Armed(n, [&] { split = bag.Split(&pieces, 2000); });
             EXPECT_EQ(split, pieces.Size() > 0);
             if (!split) {
                 EXPECT_TRUE(bag.Split(&pieces, 2000));
             }
             ZoBag whole(1, 0);
             std::string before = Flat(&whole);
             bool joined = false;
             fired |= Armed(n, [&] { joined = whole.Concat(&pieces); });
             if (joined) {
                 EXPECT_EQ(whole.CountItems(), bag.CountItems());
             } else
                 EXPECT_EQ(Flat(&whole), before);
             DeleteBags(&pieces);
             return fired;
         }},
        {"BagAttributes", nullptr,
         [](long n) {
             ZoAttributes attributes;
             ZoBag inner(2, 0);
             inner.Setint32("x", 1, 0);
             bool ok[3] = {};
             ZoBag* got = nullptr;
             bool fired = Armed(n, [&] {
                 ok[0] = attributes.SetstringAttr("name", "value", 0);
                 ok[1] = attributes.SetbagAttr("bag", &inner, 0);
                 ok[2] = attributes.GetbagAttr("bag", &got, 1);
             });
             EXPECT_EQ(attributes.HasAttr("name", T_STRING), ok[0]);
             EXPECT_EQ(attributes.HasAttr("bag", T_BAG), ok[1]);
             EXPECT_EQ(ok[2], got != nullptr);
             delete got;
             return fired;
         }},
        {"BagFiles", nullptr,
         [](long n) {
             Scratch dir;
             std::string path = dir.root + "/bag.zb";
             ZoBag bag(1, 0);
             Fill(&bag, Scale());
             bool saved = false;
             bool fired = Armed(n, [&] { saved = SaveToFile(path.c_str(), &bag); });
             struct stat st;
             EXPECT_EQ(saved, stat(path.c_str(), &st) == 0);
             if (!saved) {
                 EXPECT_TRUE(SaveToFile(path.c_str(), &bag));
             }
             ZoBag* loaded = nullptr;
             fired |= Armed(n, [&] { loaded = LoadFromFile(path.c_str()); });
             if (loaded != nullptr) {
                 EXPECT_EQ(Flat(loaded), Flat(&bag));
             }
             delete loaded;
             return fired;
         }},

        {"PathFunctions", nullptr,
         [](long n) {
             bool fired = false;
             std::vector<std::function<char*()>> calls = {
                 [] { return rel2full("../x/y"); },
                 [] { return rel2full("./x/"); },
                 [] { return rel2full("rel/name"); },
                 [] { return getparent(nullptr); },
                 [] { return zolib::get_current_dir_name(); },
                 [] { return zolib::strndup("abcdef", 3); },
                 [] { return strcut("abcdef", 1, 3); },
                 [] { return strpath("/dir", "name"); },
                 [] { return stradd("a", "b"); },
                 [] { return entryattr("/p", "n"); },
                 [] {
                     char *dir = nullptr, *name = nullptr;
                     splitfull("/a/b/c/", &dir, &name);
                     EXPECT_EQ(dir == nullptr, name == nullptr) << "one part of a split";
                     std::string both = Take(dir) + "|" + Take(name);
                     return both == "(null)|(null)" ? nullptr : strdup(both.c_str());
                 },
             };
             for (const auto& call : calls)
                 fired |= PathResult(n, call);
             return fired;
         }},
        {"EntryAndLinks", nullptr,
         [](long n) {
             Scratch dir;
             std::string link = dir.root + "/link";
             EXPECT_EQ(symlink("a.txt", link.c_str()), 0);
             return Armed(n, [&] {
                 ZoEntry entry(link.c_str());
                 EXPECT_NE(entry.GetName(), nullptr);
                 EXPECT_NE(entry.GetFull(), nullptr);
                 delete entry.Original();
             });
         }},
        {"ArgumentsTrunc", nullptr,
         [](long n) {
             char* copy = nullptr;
             bool fired = Armed(n, [&] { copy = ZoArgs::trunc("-name"); });
             if (copy != nullptr) {
                 EXPECT_EQ(Take(copy), "name");
             }
             return fired;
         }},
        {"Arguments", nullptr,
         [](long n) {
             const char* argv[] = {"prog", "-a", "1",  "2",    "--long",
                                   "x",    "-f", "--", "rest", nullptr};
             bool fired = false;
             std::vector<std::string> values;
             fired |= Armed(n, [&] {
                 ZoArgs args;
                 args.Extract(9, const_cast<char**>(argv));
                 // Whatever was recorded is right: values in order, none invented.
                 for (int i = 1; i <= args.Count("a"); i++)
                     if (char* v = args.Value("a", i)) values.push_back(v);
             });
             EXPECT_TRUE(values.empty() || values == std::vector<std::string>({"1", "2"}) ||
                         values == std::vector<std::string>({"1"}));
             return fired;
         }},
        {"TempNames", nullptr,
         [](long n) {
             bool fired = PathResult(n, [] { return MakeName("prefix", -42, ".tmp"); });
             char* label = nullptr;
             fired |= Armed(n, [&] { label = TempLabel(12); });
             if (label != nullptr) {
                 EXPECT_EQ(strlen(label), 12u);
             }
             free(label);
             return fired;
         }},
        {"DirectoryListing", nullptr,
         [](long n) {
             Scratch scratch;
             ZoDirectory dir(scratch.root.c_str(), false);
             std::set<std::string> seen;
             bool fired = Armed(n, [&] {
                 dir.Rewind(0, nullptr);
                 while (ZoEntry* entry = dir.NextEntry()) {
                     seen.insert(entry->GetName());
                     delete entry;
                 }
             });
             for (const std::string& name : seen)
                 EXPECT_TRUE(name == "a.txt" || name == "b.txt" || name == "c.dat" ||
                             name == "sub");
             return fired;
         }},
        {"DirectorySearch", nullptr,
         [](long n) {
             Scratch scratch;
             ZoDirectory dir(scratch.root.c_str(), false);
             std::set<std::string> found;
             bool fired = Armed(n, [&] { found = Names(dir.Search("*.txt")); });
             EXPECT_TRUE(found.empty() || found == std::set<std::string>({"a.txt", "b.txt"}));
             return fired;
         }},
        {"DirectoryEmpty", nullptr,
         [](long n) {  // a walk cut short by memory is a failure, not an empty directory
             Scratch scratch;
             ZoDirectory dir(scratch.root.c_str(), false);
             bool emptied = false;
             bool fired = Armed(n, [&] { emptied = dir.Empty(true); });
             if (emptied) {
                 EXPECT_TRUE(Names(dir.Search("*")).empty());
             }
             return fired;
         }},
        {"WatcherPass", nullptr,
         [](long n) {
             Scratch scratch;
             Watcher watcher;
             watcher.SetSource(scratch.root.c_str());
             fclose(fopen((scratch.root + "/new.txt").c_str(), "w"));
             bool fired = Armed(n, [&] {
                 watcher.Lock();
                 watcher.Refresh();
                 watcher.Unlock();
             });
             // The whole listing or nothing: the new name with its record.
             std::set<std::string> known = watcher.Known();
             EXPECT_EQ(known.size(), fired ? 4u : 5u);
             EXPECT_EQ(watcher.Records(), fired ? 0 : 1);
             return fired;
         }},
        {"WatcherFullPass", nullptr,
         [](long n) {
             // A pass reports everything it found, or nothing and changes
             // nothing: over the listing (changed times, a removal, a file
             // turned into a directory, a new name), over a source that is
             // gone (each entry checked by its path) and over a source
             // replaced by another directory.
             using Names = std::multiset<std::string>;
             const std::vector<Names> expected = {
                 {"0new.txt", "1a.txt", "2b.txt", "1c.dat"},
                 {"2a.txt", "2b.txt", "2c.dat", "2sub"},
                 {"2a.txt", "2b.txt", "2c.dat", "2sub"},
             };
             bool fired = false;
             for (size_t k = 0; k < expected.size(); k++) {
                 Scratch scratch;
                 std::string root = scratch.root, old = root + ".old";
                 OnePass watcher;
                 watcher.SetSource(root.c_str());
                 std::set<std::string> before = watcher.Known();
                 if (k == 0) {
                     // Made first, so that it cannot take the inode number of
                     // a file removed below (it would count as its second name).
                     fclose(fopen((root + "/new.txt").c_str(), "w"));
                     const struct timespec past[2] = {{1000, 0}, {1000, 0}};
                     EXPECT_EQ(utimensat(AT_FDCWD, (root + "/a.txt").c_str(), past, 0), 0);
                     EXPECT_EQ(unlink((root + "/b.txt").c_str()), 0);
                     EXPECT_EQ(unlink((root + "/c.dat").c_str()), 0);
                     EXPECT_EQ(mkdir((root + "/c.dat").c_str(), 0755), 0);
                 } else {
                     EXPECT_EQ(rename(root.c_str(), old.c_str()), 0);
                     if (k == 2) {
                         EXPECT_EQ(mkdir(root.c_str(), 0755), 0);
                     }
                 }
                 fired |= Armed(n, [&] { watcher.Process(); });
                 if (watcher.reported.empty()) {
                     EXPECT_EQ(watcher.Known(), before) << "case " << k;
                 } else {
                     EXPECT_EQ(watcher.reported, expected[k]) << "case " << k;
                     EXPECT_EQ(watcher.Known().size(), k == 0 ? 4u : 0u) << "case " << k;
                 }
                 if (k > 0) {
                     rmdir(root.c_str());
                     EXPECT_EQ(rename(old.c_str(), root.c_str()), 0);
                 }
             }
             return fired;
         }},
        {"Registry", nullptr,
         [](long n) {
             shm_unlink("/ZgB");  // the registry: nothing of an earlier run
             bool fired = Armed(n, [&] {
                 ZoMember member("alloc-sweep", MEMBER_APP);
                 if (member.InitCheck()) {
                     EXPECT_EQ(member.FindApp("alloc-sweep"), getpid());
                     ZoList* apps = member.ListApps();  // every entry, or null
                     EXPECT_TRUE(apps == nullptr || apps->Size() == 1);
                     delete apps;
                 }
             });
             shm_unlink("/ZgB");
             return fired;
         }},
        {"ChannelsAndMultiplexer", nullptr,
         [](long n) {
             Pipe pipe;
             return Armed(n, [&] {
                 pipe.SetBuffer(512);  // a buffer, or none (size 0)
                 EXPECT_TRUE(pipe.Size() == 512 || pipe.Size() == 0);
                 Mux mux;
                 EXPECT_TRUE(mux.Size() == 4096 || mux.Size() == 0);
                 bool connected = mux.Connect(&pipe);
                 EXPECT_EQ(mux.Channels(), connected ? 1 : 0);
                 mux.SetTimeOut(0);
                 int ready = mux.Listen();  // nothing written: 0, or -1 without memory
                 EXPECT_TRUE(ready == 0 || (ready == -1 && errno == ENOMEM)) << ready;
                 if (connected) mux.Disconnect(&pipe);
             });
         }},
        {"LooperPost", nullptr,
         [](long n) {
             // A copy that cannot be made is not posted; the caller's bag is
             // untouched either way and the looper deletes what it queued.
             ZoLooper looper("alloc", 4096);
             ZoBag bag(5, 0);
             bag.Setstring("s", "text", 0);
             std::string before = Flat(&bag);
             bool fired = Armed(n, [&] {
                 looper.PostMessage(&bag, true);
                 looper.PostMessage(9ul);
             });
             EXPECT_EQ(Flat(&bag), before);
             return fired;
         }},
        {"AddOn", nullptr,
         [](long n) {
             bool fired = false;
             fired |= Armed(n, [&] {
                 ZoAddOn addon(ZO_TEST_ADDON_FULL);
                 if (addon.InitCheck()) {
                     EXPECT_STREQ(addon.GetName(), "full");
                 }
             });
             return fired;
         }},
    };
    return rows;
}

class AllocFailure : public ::testing::TestWithParam<size_t> {};

TEST_P(AllocFailure, EveryFailurePointGivesTheFailureResult) {
    const Row& row = Rows()[GetParam()];
    const char* routed = getenv("ZOLIB_ALLOC_ROUTED");
    if (row.routed != nullptr && (routed == nullptr || *routed == '\0')) GTEST_SKIP() << row.routed;
    for (bool mode : {false, true}) {
        keepFailing = mode;
        long n = 1;
        injected = 0;
        for (; n <= kCap; n++) {
            SCOPED_TRACE(std::string(row.name) + " with allocation " + std::to_string(n) +
                         (mode ? " and later ones" : "") + " failing");
            bool fired = row.run(n);
            if (!fired || HasFailure()) break;
        }
        EXPECT_LE(n, kCap) << "the operation never ran without a failure";
        printf("[ alloc ] %s: %ld failure points%s\n", row.name, injected,
               mode ? " (later ones failing too)" : "");
    }
    keepFailing = false;
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaked (see the report above)";
#endif
}

INSTANTIATE_TEST_SUITE_P(Sweep, AllocFailure, ::testing::Range<size_t>(0, Rows().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(Rows()[info.param].name);
                         });

}  // namespace
