// Allocation-failure sweep: each row runs its steps with the 1st, 2nd, ...
// allocation of each step failing (the library's allocations only, through
// the seam of tests/support/FaultInjection.h) until no allocation is refused;
// a second round keeps every allocation after the first refused one failing.
// A step either does its whole work or none: what it leaves (its state, as a
// string) is that of a run without failures or that of no run at all. Nothing
// may throw or leak (LeakSanitizer, per row). ZOLIB_ALLOC_LONG=1
// (scripts/soak.sh) takes larger inputs.
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

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "support/Bytes.h"
#include "support/FaultInjection.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using zotest::Plain;
using Op = std::function<void()>;
using State = std::function<std::string()>;
// A row calls it once per step; the sweep decides how `op` runs.
using Step = std::function<void(const Op& op, const State& state)>;

int Scale() {
    const char* text = getenv("ZOLIB_ALLOC_LONG");
    return text != nullptr && atoi(text) > 0 ? 50 : 1;
}

// A step whose state is what its call returned ("" when not run).
void Returns(const Step& step, const std::function<std::string()>& call) {
    std::string got;
    step([&] { got = call(); }, [&] { return got; });
}

std::string Said(bool ok, const std::string& what = "") {
    return (ok ? "done " : "refused ") + what;
}

// A malloc'ed string's text, freed; null gives the state of no call.
std::string Take(char* text) {
    std::string s = text != nullptr ? text : "";
    free(text);
    return s;
}

// Items of every type, several elements each; a nested bag among them.
void Fill(ZoBag* bag, int items) {
    ZoBag inner(7, 0);
    inner.Setstring("inner", "nested text", 0);
    const std::pair<T_Data, int> fixed[] = {{T_BOOL, 1},    {T_INT8, 1},    {T_INT16, 2},
                                            {T_INT64, 8},   {T_FLOAT32, 4}, {T_FLOAT64, 8},
                                            {T_POINTER, 8}, {T_BUFFER, 300}};
    const std::string bytes(300, '\1');
    for (int i = 0; i < items; i++) {
        std::string k = std::to_string(i);
        for (const auto& [type, size] : fixed)
            bag->Setdata(("t" + std::to_string(type) + k).c_str(), type, bytes.data(), size, 0);
        for (int element : {i, -i})
            bag->Setint32(("i" + k).c_str(), element, 0);
        bag->Setstring(("s" + k).c_str(), "a string value long enough", 0);
        bag->Setstring(("s" + k).c_str(), "second", 0);
        bag->Setbag(("n" + k).c_str(), &inner, 0);
    }
}

template <class Names>
std::string Listed(const Names& names) {
    std::string all;
    for (const std::string& name : names)
        all += name + " ";
    return all;
}

std::string Items(ZoContainer* c) {
    std::string items = c->Length() >= c->Size() ? "" : "size beyond length ";
    for (long i = 0; i < c->Size(); i++)
        items += std::to_string(reinterpret_cast<long>(c->GetItem(i))) + " ";
    return items;
}

void* P(long i) {
    return reinterpret_cast<void*>(i * 16 + 16);
}

// A scratch directory with a few files and a subdirectory, removed afterwards.
struct Scratch {
    std::string root;
    Scratch() {
        char templ[] = "/tmp/zoalloc-XXXXXX";
        root = mkdtemp(templ);
        std::filesystem::create_directory(root + "/sub");
        for (const char* name : {"a.txt", "b.txt", "c.dat", "sub/d.txt"})
            fclose(fopen((root + "/" + name).c_str(), "w"));
    }
    ~Scratch() { std::filesystem::remove_all(root); }
};

// The names of the entries, which it deletes with the list.
std::string Names(ZoList* list) {
    std::set<std::string> names;
    for (long i = 0; list != nullptr && i < list->Size(); i++) {
        names.insert(static_cast<ZoEntry*>(list->GetItem(i))->GetName());
        delete static_cast<ZoEntry*>(list->GetItem(i));
    }
    delete list;
    return Listed(names);
}

// A watcher whose passes run on the caller: Process() with no pause, stopped
// from Refreshing so that its loop ends after one pass.
struct OnePass : ZoFolderWatcher {
    std::multiset<std::string> reported;  // kind and name of each record
    OnePass() : ZoFolderWatcher(0, nullptr) {}
    void Refreshing(void*) override { Stop(); }
    void Updated(ZoList* records, void*) override {
        for (long i = 0; i < records->Size(); i++) {
            auto* record = static_cast<T_Update*>(records->GetItem(i));
            reported.insert(std::to_string(record->kind) + record->entry->GetName());
        }
    }
    std::string State() {
        std::set<std::string> known;
        for (long i = 0; i < Contents()->Size(); i++)
            known.insert(static_cast<ZoEntry*>(Contents()->GetItem(i))->GetName());
        return std::to_string(changes->Size()) + " records, reported " + Listed(reported) +
               "known " + Listed(known);
    }
};

// Channels and multiplexers with their buffers in view.
struct Pipe : ZoPipe {
    Pipe() : ZoPipe(1) {}
    uint32_t Size() const { return bufferSize; }
};
struct Mux : ZoMultiplexer {
    Mux() : ZoMultiplexer(4096) {}
    uint32_t Size() const { return bufferSize; }
    long Channels() const { return channels != nullptr ? channels->Size() : 0; }
};

const struct Row {
    const char* name;
    void (*run)(const Step& step);
} kRows[] = {
    {"Containers",
     [](const Step& step) {
         ZoList other(4, 1);
         for (long i = 0; i < 4 * Scale(); i++)
             other.AddItem(P(100 + i));
         const std::function<void(ZoList&)> ops[] = {
             [](ZoList& l) { l.AddItem(P(9)); },
             [](ZoList& l) { l.AddItem(0L, P(8)); },
             [&](ZoList& l) { l.AddList(&other); },
             [](ZoList& l) { l.IncTo(l.Length() + 40); },
             [](ZoList& l) { l.IncBy(3), l.DecBy(2); },
             [](ZoList& l) { l.Adjust(); },
             [](ZoList& l) { l.Reverse(); },
             [](ZoList& l) { l.DecTo(3); },
         };
         for (const auto& op : ops) {
             ZoList list(4, 3);
             for (long i = 0; i < 4; i++)
                 list.AddItem(P(i));
             step([&] { op(list); }, [&] { return Items(&list); });
         }
         // Full stacks, popped once: a push packs a FIFO stack or grows one.
         const std::function<void(ZoStack&)> stackOps[] = {
             [](ZoStack& s) { s.Push(P(9)); },
             [](ZoStack& s) { s.Pack(); },
             [](ZoStack& s) { s.Reverse(); },
         };
         for (T_STACK_STYLE style : {STACK_LIFO, STACK_FIFO}) {
             for (const auto& op : stackOps) {
                 ZoStack stack(style, 1, 1);
                 for (long i = 0; i < 6 * Scale(); i++)
                     stack.Push(P(i));
                 stack.Pop();
                 step([&] { op(stack); }, [&] { return Items(&stack); });
             }
         }
         ZoStack stack(STACK_FIFO, 1, 1), empty(STACK_LIFO, 1, 1);
         stack.Push(P(1));
         const std::function<std::string()> copies[] = {
             // whole or empty
             [&] { return Items(std::make_unique<ZoList>(&other).get()); },
             [&] { return Items(std::make_unique<ZoStack>(&stack).get()); },
             [&] { return Items(std::make_unique<ZoStack>(&empty).get()); },
         };
         for (const auto& copy : copies)
             Returns(step, copy);
     }},
    {"BagChanges",
     [](const Step& step) {
         ZoBag source(0, 0), inner(3, 0);
         source.Setstring("extra", "e", 0);
         Fill(&inner, 1);
         const std::function<bool(ZoBag*)> changes[] = {
             [](ZoBag* b) { return b->Setstring("new", "value", 0); },
             [](ZoBag* b) { return b->Setint32("i0", 5, 0); },  // appended
             [](ZoBag* b) { return b->Setstring("s0", "longer than it was before", 1); },
             [&](ZoBag* b) { return b->CopyItem(&source, "extra", 0); },
             [](ZoBag* b) { return b->RenameItem("s0", "renamed"); },
             [&](ZoBag* b) { return b->Setbag("bag", &inner, 0); },
         };
         for (const auto& change : changes) {
             ZoBag bag(1, 0);
             Fill(&bag, Scale());
             bool ok = false;
             step([&] { ok = change(&bag); }, [&] { return Said(ok, Plain(bag)); });
         }
         ZoBag bag(1, 0);
         Fill(&bag, Scale());
         Returns(step, [&] {  // whole or empty
             ZoBag copy(&bag);
             return copy.CountItems() > 0 ? Plain(copy) : "";
         });
         ZoBag* got = nullptr;
         bool ok = false;
         step([&] { ok = bag.Getbag("n0", &got, 1); },  // a bag where the result says so
              [&] { return Said(ok == (got != nullptr), got != nullptr ? Plain(*got) : ""); });
         delete got;
     }},
    {"FlatFormsSplitAndConcat",
     [](const Step& step) {
         ZoBag bag(1, 0);
         const std::string big(1100, 'b');  // an item of its own block before items sharing one
         bag.Setdata("big", T_BUFFER, big.data(), static_cast<int>(big.size()), 0);
         Fill(&bag, Scale());
         for (bool zip : {false, true}) {
             std::string bytes(bag.FlatSize(zip), '\0');
             unsigned long size = bytes.size();
             bool ok = false;
             step([&] { ok = bag.Flatten(&bytes[0], &size, zip); },
                  [&] { return Said(ok, bytes.substr(0, ok ? size : 0)); });
             EXPECT_TRUE(ok || bag.Flatten(&bytes[0], &size, zip));
             ZoBag back(0, 0);
             step([&] { ok = back.Unflatten(bytes.data(), size); },  // a failure adds no item
                  [&] { return Said(ok, back.CountItems() > 0 ? Plain(back) : ""); });
             char *block = nullptr, *plain = nullptr;
             unsigned long zipped = 0, unzipped = 0;
             step(
                 [&] {
                     block = Zip(bytes.data(), size, &zipped, -1, nullptr, true);
                     if (block != nullptr) plain = Unzip(block, zipped, &unzipped, nullptr);
                 },
                 [&] { return plain != nullptr ? std::string(plain, unzipped) : ""; });
             free(block);
             free(plain);
         }
         ZoBag small(1, 0), whole(1, 0);
         Fill(&small, 2);  // more buffers would not fit the room left (a failed split)
         ZoList pieces(4, 4);
         bool ok = false;
         step([&] { ok = small.Split(&pieces, 2000); },
              [&] { return Said(ok, std::to_string(pieces.Size())); });
         EXPECT_TRUE(ok || small.Split(&pieces, 2000));
         step([&] { ok = whole.Concat(&pieces); }, [&] { return Said(ok, Plain(whole)); });
         for (long i = 0; i < pieces.Size(); i++)
             delete static_cast<ZoBag*>(pieces.GetItem(i));
     }},
    {"AttributesAndFiles",
     [](const Step& step) {
         // The first call makes the attributes' bag; a bag attribute is the
         // second item (GetbagAttr and the others go straight to the bag's).
         ZoAttributes attributes;
         ZoBag bag(1, 0), *loaded = nullptr;
         Fill(&bag, Scale());
         bool ok = false;
         step([&] { ok = attributes.SetstringAttr("name", "value", 0); },
              [&] { return Said(ok, std::to_string(attributes.HasAttr("name", T_STRING))); });
         step([&] { ok = attributes.SetbagAttr("bag", &bag, 0); },
              [&] { return Said(ok, std::to_string(attributes.HasAttr("bag", T_BAG))); });
         Scratch dir;
         std::string path = dir.root + "/bag.zb";
         struct stat st;
         step([&] { ok = SaveToFile(path.c_str(), &bag); },
              [&] { return Said(ok, std::to_string(stat(path.c_str(), &st))); });
         EXPECT_TRUE(ok || SaveToFile(path.c_str(), &bag));
         step([&] { loaded = LoadFromFile(path.c_str()); },
              [&] { return loaded != nullptr ? Plain(*loaded) : ""; });
         delete loaded;
     }},
    {"StringsArgumentsAddOns",
     [](const Step& step) {
         std::string (*const calls[])() = {
             [] { return Take(rel2full("../x/y")); },
             [] { return Take(rel2full("./x/")); },
             [] { return Take(rel2full("rel/name")); },
             [] { return Take(getparent(nullptr)); },
             [] { return Take(zolib::get_current_dir_name()); },
             [] { return Take(zolib::strndup("abcdef", 3)); },
             [] { return Take(strcut("abcdef", 1, 3)); },
             [] { return Take(strpath("/dir", "name")); },
             [] { return Take(stradd("a", "b")); },
             [] { return Take(entryattr("/p", "n")); },
             [] { return Take(ZoArgs::trunc("-name")); },
             [] { return Take(MakeName("prefix", -42, ".tmp")); },
             [] { return std::string(Take(TempLabel(12)).size(), 'x'); },  // random: its length
             [] {
                 char *dir = nullptr, *name = nullptr;
                 splitfull("/a/b/c/", &dir, &name);  // both parts or neither
                 std::string both = Take(dir) + "|" + Take(name);
                 return both == "|" ? "" : both;
             },
             [] {  // whatever was recorded is right: in order, none invented
                 const char* argv[] = {"prog", "-a", "1", "2", "--long", "x", "-f", "--", "rest"};
                 ZoArgs args;
                 args.Extract(9, const_cast<char**>(argv));
                 std::string values;
                 for (int i = 1; i <= args.Count("a"); i++)
                     if (const char* value = args.Value("a", i)) values += std::string(value) + " ";
                 return values == "1 " ? "" : values;
             },
             [] {
                 ZoAddOn addon(ZO_TEST_ADDON_FULL);
                 return std::string(addon.InitCheck() ? addon.GetName() : "");
             },
         };
         for (auto call : calls)
             Returns(step, call);
     }},
    {"Directories",
     [](const Step& step) {
         Scratch scratch;
         ZoDirectory dir(scratch.root.c_str(), false);
         std::string link = scratch.root + "/link";
         EXPECT_EQ(symlink("a.txt", link.c_str()), 0);
         step(
             [&] {
                 ZoEntry entry(link.c_str());
                 EXPECT_NE(entry.GetName(), nullptr);
                 EXPECT_NE(entry.GetFull(), nullptr);
                 delete entry.Original();
             },
             [] { return ""; });
         std::set<std::string> seen;  // a listing cut short names only what is there
         step(
             [&] {
                 dir.Rewind(0, nullptr);
                 while (ZoEntry* entry = dir.NextEntry()) {
                     seen.insert(entry->GetName());
                     delete entry;
                 }
             },
             [&] {
                 std::set<std::string> all = {"a.txt", "b.txt", "c.dat", "link", "sub"};
                 return std::includes(all.begin(), all.end(), seen.begin(), seen.end()) ? "" : "?";
             });
         Returns(step, [&] { return Names(dir.Search("*.txt")); });
         // A walk cut short by memory is a failure, not an empty directory.
         bool emptied = false;
         step([&] { emptied = dir.Empty(true); },
              [&] { return emptied ? Names(dir.Search("*")) : ""; });
     }},
    {"WatcherPasses",
     [](const Step& step) {
         // A pass reports everything it found, or nothing and changes
         // nothing: a refresh of the listing, a whole pass over changes
         // (changed times, a removal, a file turned into a directory, a new
         // name), over a source that is gone, and over a source replaced by
         // another directory.
         for (int k = 0; k < 4; k++) {
             Scratch scratch;
             std::string root = scratch.root, old = root + ".old";
             OnePass watcher;
             watcher.SetSource(root.c_str());
             // Made first, so that none can take the inode number of a file
             // removed below (it would count as its second name); enough
             // that the lists of entries and records grow.
             for (int i = 0; i < 8; i++)
                 fclose(fopen((root + "/new" + std::to_string(i)).c_str(), "w"));
             if (k == 1) {
                 const struct timespec past[2] = {{1000, 0}, {1000, 0}};
                 EXPECT_EQ(utimensat(AT_FDCWD, (root + "/a.txt").c_str(), past, 0), 0);
                 EXPECT_EQ(unlink((root + "/b.txt").c_str()), 0);
                 EXPECT_EQ(unlink((root + "/c.dat").c_str()), 0);
                 EXPECT_EQ(mkdir((root + "/c.dat").c_str(), 0755), 0);
             }
             EXPECT_TRUE(k < 2 || rename(root.c_str(), old.c_str()) == 0);
             EXPECT_TRUE(k < 3 || mkdir(root.c_str(), 0755) == 0);
             step(
                 [&] {
                     if (k > 0) return watcher.Process();
                     watcher.Lock();
                     watcher.Refresh();
                     watcher.Unlock();
                 },
                 [&] { return watcher.State(); });
             if (k >= 2) {
                 std::filesystem::remove_all(root);
                 EXPECT_EQ(rename(old.c_str(), root.c_str()), 0);
             }
         }
     }},
    {"Messaging",
     [](const Step& step) {
         shm_unlink("/ZgB");  // the registry: nothing of an earlier run
         step(
             [&] {
                 ZoMember member("alloc-sweep", MEMBER_APP);
                 if (member.InitCheck()) {
                     EXPECT_EQ(member.FindApp("alloc-sweep"), getpid());
                     ZoList* apps = member.ListApps();  // every entry, or null
                     EXPECT_TRUE(apps == nullptr || apps->Size() == 1);
                     delete apps;
                 }
             },
             [] { return ""; });
         shm_unlink("/ZgB");
         Pipe pipe;
         step(
             [&] {
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
             },
             [] { return ""; });
         // A copy that cannot be made is not posted; the caller's bag is
         // untouched either way and the looper deletes what it queued.
         ZoLooper looper("alloc", 4096);
         ZoBag bag(5, 0);
         bag.Setstring("s", "text", 0);
         step(
             [&] {
                 looper.PostMessage(&bag, true);
                 looper.PostMessage(9ul);
             },
             [&] { return Plain(bag); });
     }},
};

class AllocFailure : public ::testing::TestWithParam<size_t> {};

TEST_P(AllocFailure, EveryStepDoesAllOrNothing) {
    const Row& row = kRows[GetParam()];
    std::vector<std::string> none, whole;  // each step's state unrun, and run without failures
    row.run([&](const Op&, const State& state) { none.push_back(state()); });
    row.run([&](const Op& op, const State& state) {
        op();
        whole.push_back(state());
    });
    for (bool keepFailing : {false, true}) {
        long n = 1, points = 0;
        for (bool fired = true; fired && n <= 10000 && !HasFailure(); n++) {
            SCOPED_TRACE("allocation " + std::to_string(n) + (keepFailing ? " and later" : ""));
            size_t index = 0;
            fired = false;
            row.run([&](const Op& op, const State& state) {
                bool threw = false;
                zolib_fault_arm(n, keepFailing);
                try {
                    op();
                } catch (const std::bad_alloc&) {
                    threw = true;
                }
                bool refused = zolib_fault_disarm() > 0;
                EXPECT_FALSE(threw) << "std::bad_alloc left the library";
                std::string now = state();
                EXPECT_TRUE(now == whole[index] || now == none[index]) << "step " << index;
                fired |= refused;
                points += refused;
                index++;
            });
        }
        EXPECT_LE(n, 10000) << "the row never ran without a failure";
        printf("[ alloc ] %s: %ld failure points%s\n", row.name, points,
               keepFailing ? " (later ones failing too)" : "");
    }
#if defined(__SANITIZE_ADDRESS__)
    EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << "leaked (see the report above)";
#endif
}

INSTANTIATE_TEST_SUITE_P(Sweep, AllocFailure, ::testing::Range<size_t>(0, std::size(kRows)),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(kRows[info.param].name);
                         });

}  // namespace
