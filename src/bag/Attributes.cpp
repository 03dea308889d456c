#include <zolib/bag/Attributes.h>

#include <new>

ZoAttributes::ZoAttributes() : bag(nullptr) {}

ZoAttributes::~ZoAttributes() {
    delete bag;
}

// The store, made on first use; null without memory (the setters below then
// refuse: `Store() != nullptr && bag->...`).
ZoBag* ZoAttributes::Store() {
    if (bag == nullptr) bag = new (std::nothrow) ZoBag(0, 0);
    return bag;
}

bool ZoAttributes::SetdataAttr(const char* name, T_Data type, const void* data, int size,
                               int index) {
    return Store() != nullptr && bag->Setdata(name, type, data, size, index);
}
bool ZoAttributes::GetdataAttr(const char* name, T_Data type, void** data, int* size, int index) {
    return bag != nullptr && bag->Getdata(name, type, data, size, index);
}

bool ZoAttributes::SetboolAttr(const char* name, bool value, int index) {
    return Store() != nullptr && bag->Setbool(name, value, index);
}
bool ZoAttributes::GetboolAttr(const char* name, bool* value, int index) {
    return bag != nullptr && bag->Getbool(name, value, index);
}
bool ZoAttributes::Setint8Attr(const char* name, char value, int index) {
    return Store() != nullptr && bag->Setint8(name, value, index);
}
bool ZoAttributes::Getint8Attr(const char* name, char* value, int index) {
    return bag != nullptr && bag->Getint8(name, value, index);
}
bool ZoAttributes::Setint16Attr(const char* name, short value, int index) {
    return Store() != nullptr && bag->Setint16(name, value, index);
}
bool ZoAttributes::Getint16Attr(const char* name, short* value, int index) {
    return bag != nullptr && bag->Getint16(name, value, index);
}
bool ZoAttributes::Setint32Attr(const char* name, int value, int index) {
    return Store() != nullptr && bag->Setint32(name, value, index);
}
bool ZoAttributes::Getint32Attr(const char* name, int* value, int index) {
    return bag != nullptr && bag->Getint32(name, value, index);
}
bool ZoAttributes::Setint64Attr(const char* name, long long value, int index) {
    return Store() != nullptr && bag->Setint64(name, value, index);
}
bool ZoAttributes::Getint64Attr(const char* name, long long* value, int index) {
    return bag != nullptr && bag->Getint64(name, value, index);
}
bool ZoAttributes::SetfloatAttr(const char* name, float value, int index) {
    return Store() != nullptr && bag->Setfloat32(name, value, index);
}
bool ZoAttributes::GetfloatAttr(const char* name, float* value, int index) {
    return bag != nullptr && bag->Getfloat32(name, value, index);
}
bool ZoAttributes::SetdoubleAttr(const char* name, double value, int index) {
    return Store() != nullptr && bag->Setfloat64(name, value, index);
}
bool ZoAttributes::GetdoubleAttr(const char* name, double* value, int index) {
    return bag != nullptr && bag->Getfloat64(name, value, index);
}
bool ZoAttributes::SetstringAttr(const char* name, const char* value, int index) {
    return Store() != nullptr && bag->Setstring(name, value, index);
}
bool ZoAttributes::GetstringAttr(const char* name, char** value, int index) {
    return bag != nullptr && bag->Getstring(name, value, index);
}
bool ZoAttributes::SetpointerAttr(const char* name, const void* value, int index) {
    return Store() != nullptr && bag->Setpointer(name, value, index);
}
bool ZoAttributes::GetpointerAttr(const char* name, void** value, int index) {
    return bag != nullptr && bag->Getpointer(name, value, index);
}
bool ZoAttributes::SetbagAttr(const char* name, ZoBag* value, int index) {
    return Store() != nullptr && bag->Setbag(name, value, index);
}
bool ZoAttributes::GetbagAttr(const char* name, ZoBag** value, int index) {
    return bag != nullptr && bag->Getbag(name, value, index);
}

bool ZoAttributes::HasAttr(const char* name, T_Data* type) {
    return bag != nullptr && bag->HasItem(name, type);
}
bool ZoAttributes::HasAttr(const char* name, T_Data type) {
    return bag != nullptr && bag->HasItem(name, type);
}
bool ZoAttributes::RemoveAttr(const char* name, int index) {
    return bag != nullptr && bag->RemoveItem(name, index);
}
