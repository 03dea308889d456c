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
    free(ZoArgs::trunc(s));
    free(trunc(s));
    MakeName(s, 1, s);

    ZoAttributes attrs;
    attrs.SetdataAttr(s, T_STRING, v, 1, 0);
    void* data = nullptr;
    char* text = nullptr;
    bool b = false;
    char c = 0;
    short h = 0;
    long long ll = 0;
    float f = 0;
    double dbl = 0;
    ZoBag* inner = nullptr;
    T_Data type = T_STRING;
    attrs.GetdataAttr(s, T_STRING, &data, &n, 0);
    attrs.SetboolAttr(s, b, 0), attrs.GetboolAttr(s, &b, 0);
    attrs.Setint8Attr(s, c, 0), attrs.Getint8Attr(s, &c, 0);
    attrs.Setint16Attr(s, h, 0), attrs.Getint16Attr(s, &h, 0);
    attrs.Setint32Attr(s, n, 0), attrs.Getint32Attr(s, &n, 0);
    attrs.Setint64Attr(s, ll, 0), attrs.Getint64Attr(s, &ll, 0);
    attrs.SetfloatAttr(s, f, 0), attrs.GetfloatAttr(s, &f, 0);
    attrs.SetdoubleAttr(s, dbl, 0), attrs.GetdoubleAttr(s, &dbl, 0);
    attrs.SetstringAttr(s, s, 0), attrs.GetstringAttr(s, &text, 0);
    attrs.SetpointerAttr(s, v, 0), attrs.GetpointerAttr(s, &data, 0);
    attrs.SetbagAttr(s, inner, 0), attrs.GetbagAttr(s, &inner, 0);
    attrs.HasAttr(s, T_STRING);
    attrs.HasAttr(s, &type);
    attrs.RemoveAttr(s, 0);

    ZoBag bag;
    ZoBag::Hash(s);
    bag.Setdata(s, T_STRING, v, 1, 0);
    bag.Getdata(s, T_STRING, &data, &n, 0);
    bag.Setbool(s, b, 0), bag.Getbool(s, &b, 0);
    bag.Setint8(s, c, 0), bag.Getint8(s, &c, 0);
    bag.Setint16(s, h, 0), bag.Getint16(s, &h, 0);
    bag.Setint32(s, n, 0), bag.Getint32(s, &n, 0);
    bag.Setint64(s, ll, 0), bag.Getint64(s, &ll, 0);
    bag.Setfloat32(s, f, 0), bag.Getfloat32(s, &f, 0);
    bag.Setfloat64(s, dbl, 0), bag.Getfloat64(s, &dbl, 0);
    bag.Setpointer(s, v, 0), bag.Getpointer(s, &data, 0);
    bag.Setstring(s, s, 0), bag.Getstring(s, &text, 0);
    bag.Setbag(s, inner, 0), bag.Getbag(s, &inner, 0);
    bag.HasItem(s, T_STRING);
    bag.HasItem(s, &type);
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
