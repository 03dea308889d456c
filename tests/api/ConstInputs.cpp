// Every input-only pointer parameter of the public API takes a const argument.
// Nothing here runs: the file compiling is the test.
#include <zolib/ZoLib.h>

#include <cstdlib>

// One call per function and constructor with an input-only pointer parameter,
// each given const pointers. Protected helpers are left out.
void ConstInputs(const char* const s, const void* const v, const char* const* list,
                 const ZoEntry* entry) {
    unsigned long ul = 0;
    int n = 0;

    ZoAddOn addOn(s);
    addOn.Find(s);

    ZoArgs args;
    args.Extract(2, list);
    args.Presents(s);
    args.Count(s);
    args.Value(s, 1);
    ZoArgs::trunc(s);
    MakeName(s, 1, s);

    ZoAttributes attrs;
    attrs.SetdataAttr(s, T_STRING, v, 1, 0);
    attrs.SetstringAttr(s, s, 0);
    attrs.SetpointerAttr(s, v, 0);
    attrs.HasAttr(s, T_STRING);
    attrs.RemoveAttr(s, 0);

    ZoBag bag;
    ZoBag::Hash(s);
    bag.Setdata(s, T_STRING, v, 1, 0);
    bag.Setpointer(s, v, 0);
    bag.Setstring(s, s, 0);
    bag.HasItem(s, T_STRING);
    bag.CountItem(s);
    bag.CopyItem(&bag, s, 0);
    bag.RemoveItem(s, 0);
    bag.RenameItem(s, s);
    bag.Unflatten(s, 1);
    T_Elem* elem = nullptr;
    T_Item* item = nullptr;
    UnflattenIndex(&elem, s, 1);
    UnflattenItem(&item, s);
    IsABag(s, 1);
    PeekInFlatBag(s, 1, &ul, &ul, &ul, &n);
    SaveToFile(s, &bag);
    delete LoadFromFile(s);
    DumpData(s, 1);
    Zip(s, 1, &ul, 1, nullptr, false);
    Unzip(s, 1, &ul, nullptr);

    ZoList list1(1, 1);
    list1.DelItem(v);
    list1.HasItem(v);
    list1.HasItem(v, entrymatch);
    list1.FindItem(v);
    list1.FindItem(v, entrymatch);

    ZoEntry e1(s);
    ZoEntry e2(s, s);
    ZoEntry e3(entry);
    (void)(e1 == entry);
    (void)(e1 != entry);
    e1.Copy(s, s, false);
    e1.Rename(s);
    e1.Move(s);
    e1.SoftLink(s, s);
    e1.SoftLink(s);
    e1.HardLink(s, s);
    e1.HardLink(s);
    ZoDirectory d1(s, false);
    ZoDirectory d2(s, s, false);
    ZoDirectory d3(entry, false);
    d1.Copy(s, s, false);
    d1.Rewind(1, list);
    d1.GetEntry(s);
    delete d1.Search(s);
    d1.Cd(s);
    d1.Mkdir(s, 0700);
    entrymatch(v, v);
    ZoFolderWatcher watcher(1, nullptr);
    watcher.SetSource(s);
    watcher.SetFilter(1, list);
    free(zolib::strndup(s, 1));
    free(getparent(s));
    free(rel2full(s));
    char *path = nullptr, *name = nullptr;
    splitfull(s, &path, &name);
    strfindlast(s, '/');
    strfindlastn(s, '/', 1);
    strfindfirst(s, '/');
    free(strcut(s, 0, 1));
    free(strpath(s, s));
    free(stradd(s, s));
    free(entryattr(s, s));
    copy_file(s, s);

    ZoPipe pipe(1);
    pipe.Write(s, 1, nullptr);
    ZoLooper looper(s, 1);
    ZoMember member(s, MEMBER_NONE);
    member.FindApp(s);
    member.SendTo(1, s, 1);
    sort_channel(v, v);
    ZoShMemory memory(s, 1);

    ZoJob job(s);
    job.Feedback(s, 1);
    job.Milestone(s, 1);
    ZoTask task(s, nullptr, nullptr, false);
    ZoTeam team(s);
    team.Find(s);
    thcmp(v, v);
    ZoThread thread(s);
}
