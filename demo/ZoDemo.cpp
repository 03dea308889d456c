// A tour of ZoLib as an application uses it.
#include <zolib/ZoLib.h>

#include <cstdio>

int main() {
    std::printf("ZoLib %s, build %s, built %s\n", ZoLib_Version, ZoLib_Build_Id, ZoLib_Build_Date);
    return 0;
}
