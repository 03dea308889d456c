// A bag to its JSON form. The writer reads the bag's plain flat form: it is
// the one place where stored hashes, items of one hash and elements of any
// size can all be seen exactly.
#include <zolib/bag/Bag.h>
#include <zolib/json/BagJson.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "bag/internal/FlatFormat.h"
#include "json/internal/JsonForm.h"

namespace {

using namespace zolib_json_internal;
using std::string;
using zolib_internal::FlatReader;
using zolib_internal::kFlatHeader;
using zolib_internal::kLeadSize;
using zolib_internal::kPlainFlag;
using zolib_internal::Load;

// Beyond this an int64 is written as a decimal string: many JSON readers keep
// numbers as doubles and would round it silently.
constexpr int64_t kExactInDouble = int64_t{1} << 53;

// Strict UTF-8 (RFC 3629): no overlong forms, no surrogates, nothing above
// U+10FFFF. The same rule the JSON writer enforces, checked first so that a
// string it would refuse goes out as bytes instead.
bool IsUtf8(const char* text, size_t n) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < n) {
        unsigned c = p[i];
        if (c < 0x80) {
            i++;
            continue;
        }
        size_t length;
        uint32_t code, least;
        if ((c & 0xE0) == 0xC0) {
            length = 2, code = c & 0x1F, least = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, code = c & 0x0F, least = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, code = c & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (n - i < length) return false;
        for (size_t k = 1; k < length; k++) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
            code = (code << 6) | (p[i + k] & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

Json RawBytes(const char* p, size_t n) {
    Json raw = Json::object();
    raw["bytes"] = ToBase64(p, n);
    return raw;
}

Json TextOrBytes(const char* p, size_t n) {
    return IsUtf8(p, n) ? Json(string(p, n)) : RawBytes(p, n);
}

// The shortest decimal that reads back as the same float through a double,
// which is how the reader takes it; the float's exact double never fails.
Json Float32(const char* p) {
    uint32_t bits = Load<uint32_t>(p);
    float value = Load<float>(p);
    if (std::isnan(value)) {
        if ((bits & 0x7FFFFFFFu) != 0x7FC00000u) return RawBytes(p, 4);  // a NaN payload
        return (bits >> 31) != 0 ? "-nan" : "nan";
    }
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char text[32];
    for (int digits = 1; digits <= 9; digits++) {
        snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
        double candidate = strtod(text, nullptr);
        float back = static_cast<float>(candidate);
        if (memcmp(&back, &bits, 4) == 0) return candidate;
    }
    return static_cast<double>(value);
}

// The JSON writer prints doubles so that they read back exactly.
Json Float64(const char* p) {
    uint64_t bits = Load<uint64_t>(p);
    double value = Load<double>(p);
    if (std::isnan(value)) {
        if ((bits & ~(uint64_t{1} << 63)) != 0x7FF8000000000000u) return RawBytes(p, 8);
        return (bits >> 63) != 0 ? "-nan" : "nan";
    }
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    return value;
}

// True when `p` is exactly the plain flat form the library writes for the bag
// it holds: only then can a nested object stand for it.
bool IsExactFlat(const char* p, size_t n) {
    if (n < kFlatHeader || !zolib_internal::HasLead(p, n) ||
        p[zolib_internal::kFlagAt] != kPlainFlag)
        return false;
    ZoBag bag(0, 0);
    if (!bag.Unflatten(p, n) || bag.FlatSize(false) != n) return false;
    string again(n, '\0');
    return bag.Flatten(&again[0], nullptr, false) && memcmp(again.data(), p, n) == 0;
}

bool FlatToJson(const char* p, size_t n, int depth, const string& path, Json* out, string* error);

// An integer element of exactly its type's width, as a JSON number.
template <typename T>
bool IntegerToJson(const char* p, uint32_t size, Json* out) {
    if (size != sizeof(T)) return false;
    *out = static_cast<int64_t>(Load<T>(p));
    return true;
}

// The natural form when it gives back exactly these bytes, raw bytes otherwise.
bool ElementToJson(int32_t type, const char* p, uint32_t size, int depth, const string& path,
                   Json* out, string* error) {
    switch (type) {
        case T_STRING:
            if (size > 0 && p[size - 1] == '\0' && IsUtf8(p, size - 1)) {
                *out = string(p, size - 1);
                return true;
            }
            break;
        case T_BOOL:
            if (size == 1 && static_cast<unsigned char>(p[0]) <= 1) {
                *out = p[0] != 0;
                return true;
            }
            break;
        case T_INT8:
            if (IntegerToJson<int8_t>(p, size, out)) return true;
            break;
        case T_INT16:
            if (IntegerToJson<int16_t>(p, size, out)) return true;
            break;
        case T_INT32:
            if (IntegerToJson<int32_t>(p, size, out)) return true;
            break;
        case T_INT64:
            if (size == 8) {
                int64_t value = Load<int64_t>(p);
                if (value >= -kExactInDouble && value <= kExactInDouble)
                    *out = value;
                else
                    *out = std::to_string(value);
                return true;
            }
            break;
        case T_FLOAT32:
            if (size == 4) {
                *out = Float32(p);
                return true;
            }
            break;
        case T_FLOAT64:
            if (size == 8) {
                *out = Float64(p);
                return true;
            }
            break;
        case T_BAG:
            if (depth < ZoBagJsonMaxDepth && IsExactFlat(p, size))
                return FlatToJson(p, size, depth + 1, path, out, error);
            break;
        case T_POINTER:
            return Fail(error, path, "internal error: a pointer element reached the writer");
        default:  // T_BUFFER and type codes without a name
            *out = ToBase64(p, size);
            return true;
    }
    *out = RawBytes(p, size);
    return true;
}

bool FlatToJson(const char* p, size_t n, int depth, const string& path, Json* out, string* error) {
    const string kCut = "internal error: the flat bag ends inside a record";
    FlatReader in(p, n);
    uint32_t what, who, when, size, count;
    if (in.Take(kLeadSize) == nullptr || !in.Read32(&what) || !in.Read32(&who) ||
        !in.Read32(&when) || !in.Read32(&size) || !in.Read32(&count))
        return Fail(error, path, kCut);

    Json bag = Json::object();
    if (depth == 0) bag["zobag"] = ZoBagJsonVersion;
    bag["what"] = what;
    bag["who"] = who;
    bag["when"] = when;
    Json items = Json::array();
    for (uint32_t i = 0; i < count; i++) {
        string itemPath = Index(path, "items", i);
        uint32_t hash, nameLength, type, elements;
        const char* name;
        if (!in.Read32(&hash) || !in.Read32(&nameLength) ||
            (name = in.Take(nameLength)) == nullptr || !in.Read32(&type) || !in.Read32(&elements))
            return Fail(error, itemPath, kCut);
        int32_t code = static_cast<int32_t>(type);
        if (code == T_POINTER)
            return Fail(error, itemPath,
                        "the item holds pointers, which mean nothing outside the process that "
                        "stored them; a bag with pointers has no JSON form");

        Json item = Json::object();
        item["name"] = TextOrBytes(name, nameLength);
        // Only foreign bytes give an item a hash that is not its name's.
        int32_t nameHash = static_cast<int32_t>(ZoBag::Hash(string(name, nameLength).c_str()));
        if (static_cast<int32_t>(hash) != nameHash) item["hash"] = static_cast<int32_t>(hash);
        const char* typeName = TypeName(code);
        item["type"] = typeName != nullptr ? Json(typeName) : Json(code);
        Json values = Json::array();
        for (uint32_t k = 0; k < elements; k++) {
            uint32_t elementSize;
            const char* payload;
            if (!in.Read32(&elementSize) || (payload = in.Take(elementSize)) == nullptr)
                return Fail(error, itemPath, kCut);
            Json value;
            if (!ElementToJson(code, payload, elementSize, depth, Index(itemPath, "values", k),
                               &value, error))
                return false;
            values.push_back(std::move(value));
        }
        item["values"] = std::move(values);
        items.push_back(std::move(item));
    }
    bag["items"] = std::move(items);
    *out = std::move(bag);
    return true;
}

}  // namespace

bool ZoBagToJson(ZoBag* bag, int indent, string* json, string* error) {
    string unused;
    if (error == nullptr) error = &unused;
    if (bag == nullptr || json == nullptr) return Fail(error, "", "no bag or no output");
    try {
        string flat(bag->FlatSize(false), '\0');
        if (!bag->Flatten(&flat[0], nullptr, false))
            return Fail(error, "", "the bag is too large for the flat form");
        Json document;
        if (!FlatToJson(flat.data(), flat.size(), 0, "", &document, error)) return false;
        *json = document.dump(indent, ' ', false, Json::error_handler_t::strict);
        return true;
    } catch (const std::exception& e) {
        return Fail(error, "", e.what());
    }
}
