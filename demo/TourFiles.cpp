// Bags on disk, and a folder watcher whose reports become bags.
#include "Tour.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

// free() for the strings the path functions return.
struct FreeText {
    void operator()(char* text) const { std::free(text); }
};
using Text = std::unique_ptr<char, FreeText>;

// The flat form of a bag, to compare two bags byte for byte.
std::vector<char> Flat(ZoBag& bag) {
    std::vector<char> bytes(bag.FlatSize(false));
    bag.Flatten(bytes.data(), nullptr, false);
    return bytes;
}

// Reports each change of a pass as a bag. Updated() runs on the watcher's
// thread with the watcher locked; the records are the watcher's and die with
// the next pass, so only their kind and name travel.
class InboxWatcher : public ZoFolderWatcher {
  public:
    explicit InboxWatcher(Narrator& narrator) : ZoFolderWatcher(30, nullptr), narrator(narrator) {}
    // Updated() uses `narrator`: stop the passes before this object goes.
    ~InboxWatcher() override { Cancel(); }

    void Updated(ZoList* changes, void*) override {
        for (long i = 0; i < changes->Size(); i++) {
            auto* change = static_cast<T_Update*>(changes->GetItem(i));
            auto* bag = new ZoBag(MSG_UPDATE);
            bag->Setint32("kind", change->kind, 0);
            bag->Setstring("name", change->entry->GetName(), 0);
            narrator.PostMessage(bag, false);
        }
    }

  private:
    Narrator& narrator;
};

bool WriteFile(const char* path, const char* mode, const char* text) {
    std::FILE* file = std::fopen(path, mode);
    if (file == nullptr) return false;
    bool ok = std::fputs(text, file) >= 0;  // one write() when the file is closed
    return std::fclose(file) == 0 && ok;
}

}  // namespace

bool TourBagFile(Narrator& narrator, const char* dir) {
    narrator.Heading("A bag is copied, saved to a bag file and loaded back");

    ZoBag order(MSG_ORDER);
    order.Setstring("customer", "Ada", 0);
    order.Setint32("item", 101, 0);
    order.Setint32("item", 205, 0);
    order.Setint32("item", 333, 0);
    order.Setfloat64("total", 41.5, 0);
    narrator.Show(MSG_SHOW, "a new order:", &order);

    ZoBag copy(&order);
    copy.RenameItem("customer", "client");
    copy.RemoveItem("item", 2);
    copy.Setfloat64("total", 29.0, 1);
    narrator.Show(MSG_SHOW, "a copy, renamed and trimmed (the original is unchanged):", &copy);

    Text path(strpath(dir, "order.bag"));
    if (!SaveToFile(path.get(), &order)) {
        narrator.Say("main", "could not save the bag file");
        return false;
    }
    struct stat st {};
    stat(path.get(), &st);
    narrator.Say("main", "saved the order to order.bag (%ld bytes, compressed)",
                 static_cast<long>(st.st_size));

    std::unique_ptr<ZoBag> loaded(LoadFromFile(path.get()));
    if (loaded == nullptr) {
        narrator.Say("main", "could not read the bag file back");
        return false;
    }
    narrator.Show(MSG_PRINT,
                  "the bag loaded from order.bag, as PrintToStream prints it:", loaded.get());
    bool same = Flat(*loaded) == Flat(order);
    narrator.Say("main", "the loaded bag %s the original",
                 same ? "flattens to the same bytes as" : "DIFFERS from");
    return same;
}

bool TourWatcher(Narrator& narrator, const char* dir) {
    narrator.Heading("A folder watcher reports what changes in a directory");
    ZoDirectory root(dir, false);
    if (!root.Mkdir("inbox", 0755)) {
        narrator.Say("main", "could not make the inbox directory");
        return false;
    }
    Text inbox(strpath(dir, "inbox"));

    InboxWatcher watcher(narrator);
    watcher.SetSource(inbox.get());
    watcher.Run();
    narrator.Say("main", "watches inbox/ every 30 ms");

    // Files appear whole: written beside the inbox, then moved in, so that no
    // pass sees one half written. Every step waits for its report before the
    // next, which keeps the account in step with what was done.
    auto arrive = [&](const char* name, const char* text) {
        Text staged(strpath(dir, name));
        ZoEntry entry(staged.get());
        return WriteFile(staged.get(), "w", text) && entry.Move(inbox.get());
    };
    auto inInbox = [&](const char* name) { return Text(strpath(inbox.get(), name)); };

    bool ok = true;
    auto step = [&](const char* said, const std::string& expect, auto action) {
        if (!ok) return;
        narrator.Say("main", "%s", said);
        if (!action()) {
            narrator.Say("main", "could not do that");
            ok = false;
        } else if (!narrator.WaitFor(expect)) {
            narrator.Say("main", "no \"%s\" within %d ms", expect.c_str(), kWaitMs);
            ok = false;
        }
    };

    step("moves notes.txt in", "added notes.txt", [&] { return arrive("notes.txt", "milk\n"); });
    step("moves todo.txt in", "added todo.txt", [&] { return arrive("todo.txt", "call Alan\n"); });
    step("makes the subdirectory archive", "added archive",
         [&] { return ZoDirectory(inbox.get(), false).Mkdir("archive", 0755); });
    step("appends a line to notes.txt", "changed notes.txt", [&] {
        // File times have the kernel clock's granularity (a few milliseconds):
        // a write right after a pass could leave them as that pass saw them.
        mSnooze(20);
        return WriteFile(inInbox("notes.txt").get(), "a", "bread\n");
    });
    step("removes todo.txt", "removed todo.txt",
         [&] { return ZoEntry(inInbox("todo.txt").get()).Remove(false); });

    if (ok) {
        // Contents() is the watcher's own list: read it under its lock.
        std::vector<std::string> names;
        watcher.Lock();
        ZoList* contents = watcher.Contents();
        for (long i = 0; i < contents->Size(); i++)
            names.push_back(static_cast<ZoEntry*>(contents->GetItem(i))->GetName());
        watcher.Unlock();
        std::sort(names.begin(), names.end());
        std::string list;
        for (const auto& name : names)
            list += (list.empty() ? "" : ", ") + name;
        narrator.Say("main", "the watcher now knows %zu entries: %s", names.size(), list.c_str());
    }
    watcher.Cancel();  // ends the thread in its sleep between passes
    return ok;
}
