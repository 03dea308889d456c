#include "Narrator.h"

#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <memory>

namespace {

const char* TypeName(T_Data type) {
    static const char* const names[] = {"string",  "bool",    "int8",   "int16", "int32",  "int64",
                                        "float32", "float64", "buffer", "bag",   "pointer"};
    return type >= T_STRING && type <= T_POINTER ? names[type] : "?";
}

// One line per item: name, type, element count and the values the demo uses.
void ShowItems(ZoBag& bag) {
    char* name;
    T_Data type;
    int count;
    for (int i = 0; bag.GetInfo(i, &name, &type, &count); i++) {
        std::printf("             %-10s %-8s x%d:", name, TypeName(type), count);
        for (int k = 1; k <= count; k++) {
            int n;
            double d;
            char* s;
            if (bag.Getint32(name, &n, k))
                std::printf(" %d", n);
            else if (bag.Getfloat64(name, &d, k))
                std::printf(" %g", d);
            else if (bag.Getstring(name, &s, k))
                std::printf(" \"%s\"", s);
        }
        std::printf("\n");
    }
}

const char* Text(ZoBag* bag, const char* name) {
    char* text = nullptr;
    return bag->Getstring(name, &text, 1) ? text : "";
}

int Number(ZoBag* bag, const char* name) {
    int n = 0;
    bag->Getint32(name, &n, 1);
    return n;
}

}  // namespace

Narrator::Narrator()
    : ZoLooper("narrator", 0),
      terminal(isatty(STDOUT_FILENO) == 1),
      barOpen(false),
      orders(0),
      ordersInSequence(true),
      lastNumber{} {}

// The handlers use this object's members: the loop thread must be gone first.
Narrator::~Narrator() {
    Halt();
}

void Narrator::Heading(const char* text) {
    auto* bag = new ZoBag(MSG_HEADING);
    bag->Setstring("text", text, 0);
    PostMessage(bag, false);
}

void Narrator::Say(const char* who, const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    auto* bag = new ZoBag(MSG_SAY);
    bag->Setstring("who", who, 0);
    bag->Setstring("text", text, 0);
    PostMessage(bag, false);
}

void Narrator::Show(uint32_t what, const char* title, ZoBag* bag) {
    auto* message = new ZoBag(what);
    message->Setstring("title", title, 0);
    message->Setbag("bag", bag, 0);  // a snapshot: the caller's bag may change
    PostMessage(message, false);
}

bool Narrator::WaitFor(const std::string& note, int ms) {
    std::unique_lock<std::mutex> lock(notesMutex);
    return notesChanged.wait_for(lock, std::chrono::milliseconds(ms),
                                 [&] { return notes.count(note) > 0; });
}

bool Narrator::Finish() {
    // Stopping from here would end the loop after the bag it is printing and
    // drop the rest: the last bag stops it instead, once all before it are out.
    PostMessage(MSG_QUIT);
    if (!WaitFor("quit")) {
        Abort();
        return false;
    }
    WaitEnd();
    return true;
}

void Narrator::Note(const std::string& note) {
    {
        std::lock_guard<std::mutex> lock(notesMutex);
        notes.insert(note);
    }
    notesChanged.notify_all();
}

void Narrator::EndBar() {
    if (!barOpen) return;
    std::printf("\n");
    barOpen = false;
}

void Narrator::MessageReceived(ZoBag* message) {
    if (message->what != MSG_PROGRESS) EndBar();
    switch (message->what) {
        case MSG_HEADING:
            std::printf("\n== %s\n", Text(message, "text"));
            break;
        case MSG_SAY:
            std::printf("  %-9s %s\n", Text(message, "who"), Text(message, "text"));
            break;
        case MSG_ORDER:
            Order(message);
            break;
        case MSG_TALLY:
            Tally(message);
            break;
        case MSG_SHOW:
        case MSG_PRINT: {
            ZoBag* nested = nullptr;
            message->Getbag("bag", &nested, 1);
            std::unique_ptr<ZoBag> bag(nested);
            std::printf("  %-9s %s\n", "narrator", Text(message, "title"));
            if (bag == nullptr)
                std::printf("             (the nested bag did not unflatten)\n");
            else if (message->what == MSG_SHOW)
                ShowItems(*bag);
            else
                bag->PrintToStream();
            break;
        }
        case MSG_PROGRESS:
            Progress(message);
            break;
        case MSG_UPDATE:
            Update(message);
            break;
        case MSG_APPS:
            Apps(message);
            break;
        case MSG_QUIT:
            std::printf("  %-9s has printed every bag; its loop ends\n", "narrator");
            Stop();  // seen when this handler returns
            Note("quit");
            break;
        default:
            std::printf("  %-9s a bag it does not know: what=0x%x\n", "narrator", message->what);
            break;
    }
    std::fflush(stdout);
}

void Narrator::Order(ZoBag* bag) {
    int poster = Number(bag, "poster");
    int number = Number(bag, "number");
    char name = static_cast<char>('A' + poster);
    std::printf("  %-9s order %d from poster %c\n", "narrator", number, name);
    // Bags posted by one thread arrive in the order it posted them; between
    // threads the order is whatever the scheduler made of it.
    if (poster >= 0 && poster < 8) {
        if (number != lastNumber[poster] + 1) ordersInSequence = false;
        lastNumber[poster] = number;
    }
    orders++;
    Note(std::string("order ") + name + std::to_string(number));
}

void Narrator::Tally(ZoBag* bag) {
    int expected = Number(bag, "expected");
    std::printf("  %-9s %d of %d orders arrived, each poster's %s\n", "narrator", orders, expected,
                ordersInSequence ? "in the order it posted them" : "OUT OF ORDER");
    Note(orders == expected && ordersInSequence ? "orders ok" : "orders wrong");
}

void Narrator::Progress(ZoBag* bag) {
    short percent = 0;
    bag->Getint16("percent", &percent, 1);
    const char* step = Text(bag, "step");
    if (terminal) {
        // Redrawn in place; the line is ended by the next other output.
        constexpr int width = 30;
        char bar[width + 1];
        int filled = percent * width / 100;
        for (int i = 0; i < width; i++)
            bar[i] = i < filled ? '#' : '.';
        bar[width] = '\0';
        std::printf("\r  %-9s [%s] %3d%%  %-12s", "job", bar, percent, step);
        barOpen = percent < 100;
        if (!barOpen) std::printf("\n");
    } else {
        std::printf("  %-9s %3d%%  %s\n", "job", percent, step);
    }
    Note("progress " + std::to_string(percent));
}

void Narrator::Update(ZoBag* bag) {
    static const char* const kinds[] = {"added", "changed", "removed"};
    int kind = Number(bag, "kind");
    const char* what = kind >= 0 && kind <= 2 ? kinds[kind] : "?";
    const char* name = Text(bag, "name");
    std::printf("  %-9s %s %s\n", "watcher", what, name);
    Note(std::string(what) + " " + name);
}

void Narrator::Apps(ZoBag* bag) {
    int count = bag->CountItem("pid");
    std::printf("  %-9s %d application(s) registered\n", "registry", count);
    for (int i = 1; i <= count; i++) {
        int pid = 0;
        char* name = nullptr;
        bool self = false;
        bag->Getint32("pid", &pid, i);
        bag->Getstring("name", &name, i);
        bag->Getbool("self", &self, i);
        std::printf("             pid %-8d %-24s%s\n", pid, name != nullptr ? name : "?",
                    self ? "(this process)" : "");
    }
    Note("apps");
}
