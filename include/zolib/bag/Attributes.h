// ZoAttributes: a small set of named, typed values an object can carry.
//
// The values live in a bag made on the first Set…Attr, so an object that
// never sets one costs a null pointer. Every operation forwards to that bag's
// item operations: one item per name, elements by 1-based index, the same
// type rules and results.
//
// Ownership: the object owns its bag. GetstringAttr hands out the stored copy
// (valid until the attribute changes or the object dies); GetbagAttr a new
// bag the caller deletes; SetbagAttr stores a snapshot, `value` stays the
// caller's. Pointer attributes store the pointer value only.
// Threads: no lock; callers serialise access. Nothing blocks.
// Failure: false; getters leave their output untouched. Before the first
// setter every getter, HasAttr and RemoveAttr answer false.
#pragma once

#include <zolib/Export.h>
#include <zolib/bag/Bag.h>

class ZOLIB_API ZoAttributes {
  public:
    ZoAttributes();
    ~ZoAttributes();

    ZoAttributes(const ZoAttributes&) = delete;
    ZoAttributes& operator=(const ZoAttributes&) = delete;

    bool SetdataAttr(const char* name, T_Data type, const void* data, int size, int index);
    bool GetdataAttr(const char* name, T_Data type, void** data, int* size, int index);

    bool SetboolAttr(const char* name, bool value, int index);
    bool GetboolAttr(const char* name, bool* value, int index);
    bool Setint8Attr(const char* name, char value, int index);
    bool Getint8Attr(const char* name, char* value, int index);
    bool Setint16Attr(const char* name, short value, int index);
    bool Getint16Attr(const char* name, short* value, int index);
    bool Setint32Attr(const char* name, int value, int index);
    bool Getint32Attr(const char* name, int* value, int index);
    bool Setint64Attr(const char* name, long long value, int index);
    bool Getint64Attr(const char* name, long long* value, int index);
    bool SetfloatAttr(const char* name, float value, int index);
    bool GetfloatAttr(const char* name, float* value, int index);
    bool SetdoubleAttr(const char* name, double value, int index);
    bool GetdoubleAttr(const char* name, double* value, int index);
    bool SetstringAttr(const char* name, const char* value, int index);
    bool GetstringAttr(const char* name, char** value, int index);
    bool SetpointerAttr(const char* name, const void* value, int index);
    bool GetpointerAttr(const char* name, void** value, int index);
    bool SetbagAttr(const char* name, ZoBag* value, int index);
    bool GetbagAttr(const char* name, ZoBag** value, int index);

    // True when the attribute exists; stores its type when `type` is not null.
    bool HasAttr(const char* name, T_Data* type);
    // True when the attribute exists with this type.
    bool HasAttr(const char* name, T_Data type);
    // index 0 removes the attribute, otherwise one element.
    bool RemoveAttr(const char* name, int index);

  private:
    ZoBag* Store();  // the bag, made on first use

    ZoBag* bag;  // owned; null until the first setter
};
