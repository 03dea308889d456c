// Links against an installed ZoLib and checks that it answers.
#include <zolib/ZoLib.h>

#include <cstdio>
#include <cstring>

int main() {
    ZoList list(0, 1);
    int value = 7;
    list.AddItem(&value);
    if (list.Size() != 1 || std::strcmp(ZoLib_Version, "0.0.5") != 0) return 1;
    std::printf("ZoLib %s build %s (%s)\n", ZoLib_Version, ZoLib_Build_Id, ZoLib_Build_Date);
    return 0;
}
