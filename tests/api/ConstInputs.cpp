// Every input-only pointer parameter of the public API takes a const argument.
// Nothing here runs: the file compiling is the test. Names, paths and texts
// are checked by every test that passes them a string literal (a literal does
// not convert to char*); this file covers the parameters a literal cannot
// reach: data buffers, items and keys, argument and filter lists, entries.
#include <zolib/ZoLib.h>

#include <cstdlib>

void ConstInputs(const char* const s, const void* const v, const char* const* list,
                 const ZoEntry* entry, int n, unsigned long ul, void* data, T_Elem* elem,
                 T_Item* item) {
    ZoArgs args;
    args.Extract(2, list);

    ZoAttributes attrs;
    attrs.SetdataAttr(s, T_STRING, v, 1, 0);
    attrs.SetpointerAttr(s, v, 0);
    ZoBag bag;
    bag.Setdata(s, T_STRING, v, 1, 0);
    bag.Setpointer(s, v, 0);
    bag.Unflatten(s, 1);
    UnflattenIndex(&elem, s, 1);
    UnflattenItem(&item, s);
    IsABag(s, 1);
    PeekInFlatBag(s, 1, &ul, &ul, &ul, &n);
    DumpData(s, 1);
    free(Zip(s, 1, &ul, 1, nullptr, false));
    free(Unzip(s, 1, &ul, nullptr));

    ZoList list1(1, 1);
    list1.DelItem(v);
    list1.HasItem(v);
    list1.HasItem(v, entrymatch);
    list1.FindItem(v);
    list1.FindItem(v, entrymatch);

    ZoEntry e1(entry);
    (void)(e1 == entry);
    (void)(e1 != entry);
    ZoDirectory d1(entry, false);
    d1.Rewind(1, list);
    entrymatch(v, v);
    ZoFolderWatcher watcher(1, nullptr);
    watcher.SetFilter(1, list);

    ZoPipe pipe(1);
    pipe.Write(s, 1, data);
    ZoMember member(s, MEMBER_NONE);
    member.SendTo(1, s, 1);
    sort_channel(v, v);
    ZoJob job(s);
    job.Feedback(s, 1);
    job.Milestone(s, 1);
    thcmp(v, v);
}
