// ZoArgs: a program's command line, parsed into a bag.
//
// Every option ("-name" or "+name") becomes an item called `name`: a boolean
// true when no plain argument follows it, otherwise the strings that follow it,
// one element each and in order (a repeated option adds to the same item).
// An argument starting with "--" or "+-" ends the options: the plain arguments
// after it are collected in the item "_left". Plain arguments before the first
// option are ignored.
//
// Ownership: the object owns its bag; Value() hands out pointers into it, valid
// until the object is destroyed. Extract() copies everything it keeps, so argv
// may change or go away afterwards.
// Threads: no lock; one thread at a time per object. Nothing blocks.
// Failure: nothing fails loudly. Null or empty argv entries, a null argv and
// argc below 2 are taken in stride (see Extract); queries answer false, 0 or
// null for anything that is not there.
#pragma once

#include <zolib/Export.h>

#include <type_traits>

class ZoBag;

class ZOLIB_API ZoArgs {
  public:
    ZoArgs();  // an empty bag; parses nothing
    ~ZoArgs();

    ZoArgs(const ZoArgs&) = delete;
    ZoArgs& operator=(const ZoArgs&) = delete;

    // Parses argv[1] to argv[argc-1] (argv[0], the program, is skipped) into
    // the bag. A second call adds to what the first one left. Null entries are
    // skipped as if absent; an empty entry is a plain argument (an empty value).
    void Extract(int argc, const char* const* argv);

    // True when the option (or "_left") was given, whatever its kind.
    bool Presents(const char* name);
    // Number of values, 1 for an option without values, 0 when absent.
    int Count(const char* name);
    // The index-th value (1-based) of an option that has values; null when the
    // option is absent, has no values (a plain flag) or no value `index`.
    char* Value(const char* name, int index);

    // A new malloc'ed copy of `text` without its first character; the caller
    // frees it. An empty text gives an empty copy; a null text gives null.
    // Programs reach it as the free function trunc(text) declared below.
    static char* trunc(const char* text);

  private:
    ZoBag* bag;  // owned
};

// trunc(text): ZoArgs::trunc for texts, at global scope.
//
// The C library has `double trunc(double)` at global scope too. This trunc is
// a template that accepts only char* and const char* arguments: for any number
// (2.5, 2.5f, 0, an int variable) it drops out of overload resolution, so the C
// library's trunc is called exactly as if ZoLib were not included, and `trunc(0)`
// is not ambiguous. It is inline and forwards to ZoArgs::trunc, so it has no
// symbol of its own that could meet libm's `trunc` at link time.
template <typename Text, typename = std::enable_if_t<std::is_same_v<Text, char*> ||
                                                     std::is_same_v<Text, const char*>>>
inline char* trunc(Text text) {
    return ZoArgs::trunc(text);
}
