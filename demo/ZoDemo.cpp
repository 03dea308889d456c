// A tour of ZoLib as an application uses it.
#include <zolib/ZoLib.h>

#include <cstdio>

namespace {

const char* TypeName(T_Data type) {
    static const char* const names[] = {"string",  "bool",    "int8",   "int16", "int32",  "int64",
                                        "float32", "float64", "buffer", "bag",   "pointer"};
    return type >= T_STRING && type <= T_POINTER ? names[type] : "?";
}

void Show(const char* title, ZoBag& bag) {
    std::printf("%s: what=0x%x, %d item(s)\n", title, bag.what, bag.CountItems());
    char* name;
    T_Data type;
    int count;
    for (int i = 0; bag.GetInfo(i, &name, &type, &count); i++) {
        std::printf("  %-10s %-8s x%d:", name, TypeName(type), count);
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

}  // namespace

int main() {
    std::printf("ZoLib %s, build %s, built %s\n\n", ZoLib_Version, ZoLib_Build_Id,
                ZoLib_Build_Date);

    ZoBag order(0x4f524452, 0);  // 'ORDR'
    order.Setstring("customer", "Ada", 0);
    order.Setint32("item", 101, 0);
    order.Setint32("item", 205, 0);
    order.Setint32("item", 333, 0);
    order.Setfloat64("total", 41.5, 0);
    Show("a new order", order);

    ZoBag copy(&order);
    copy.RenameItem("customer", "client");
    copy.RemoveItem("item", 2);
    copy.Setfloat64("total", 29.0, 1);
    Show("\na copy, renamed and trimmed", copy);
    Show("\nthe original is unchanged", order);
    return 0;
}
