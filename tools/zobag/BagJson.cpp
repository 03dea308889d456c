// Conversion between bags and their JSON form. Both directions work on the
// plain flat form: it is the one place where a bag's stored hashes, items of
// one hash and elements of any size can all be seen and written exactly.
#include "BagJson.h"

#include <zolib/bag/Bag.h>

#include <sodium.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <set>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;
using std::string;

const char kPlainLead[4] = {'B', 'a', 'G', '\0'};
constexpr size_t kHeaderSize = 24;
constexpr size_t kSizeField = 16;
constexpr int kBase64 = sodium_base64_VARIANT_ORIGINAL;
// Beyond this an int64 is written as a decimal string: many JSON readers keep
// numbers as doubles and would round it silently.
constexpr int64_t kExactInDouble = int64_t{1} << 53;

const struct {
    int32_t code;
    const char* name;
} kTypeNames[] = {{T_STRING, "string"},   {T_BOOL, "bool"},       {T_INT8, "int8"},
                  {T_INT16, "int16"},     {T_INT32, "int32"},     {T_INT64, "int64"},
                  {T_FLOAT32, "float32"}, {T_FLOAT64, "float64"}, {T_BUFFER, "buffer"},
                  {T_BAG, "bag"},         {T_POINTER, "pointer"}};

const char* TypeName(int32_t code) {
    for (const auto& type : kTypeNames)
        if (type.code == code) return type.name;
    return nullptr;
}

bool Fail(string* error, const string& path, const string& message) {
    *error = path.empty() ? message : path + ": " + message;
    return false;
}

string Index(const string& path, const char* member, size_t i) {
    return path + "/" + member + "/" + std::to_string(i);
}

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

string ToBase64(const char* p, size_t n) {
    string text(sodium_base64_encoded_len(n, kBase64), '\0');
    sodium_bin2base64(&text[0], text.size(), reinterpret_cast<const unsigned char*>(p), n, kBase64);
    text.pop_back();  // the NUL the encoder adds
    return text;
}

// Canonical padded base64 only (libsodium refuses stray characters, missing
// padding and non-zero spare bits), so each byte string has one spelling.
bool FromBase64(const string& text, string* bytes) {
    string out(text.size() / 4 * 3 + 3, '\0');
    size_t n = 0;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(&out[0]), out.size(), text.data(),
                          text.size(), nullptr, &n, nullptr, kBase64) != 0)
        return false;
    out.resize(n);
    *bytes = std::move(out);
    return true;
}

// Values of the flat form are little-endian on every host.
template <typename T>
void Little(T* value) {
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) {
        char* bytes = reinterpret_cast<char*>(value);
        std::reverse(bytes, bytes + sizeof *value);
    }
}

template <typename T>
T Load(const char* p) {
    T value;
    memcpy(&value, p, sizeof value);
    Little(&value);
    return value;
}

template <typename T>
void Store(string* out, T value) {
    Little(&value);
    out->append(reinterpret_cast<const char*>(&value), sizeof value);
}

// ---- bag to JSON ----

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
    if (n < kHeaderSize || memcmp(p, kPlainLead, 4) != 0) return false;
    ZoBag bag(0, 0);
    if (!bag.Unflatten(p, n) || bag.FlatSize(false) != n) return false;
    string again(n, '\0');
    return bag.Flatten(&again[0], nullptr, false) && memcmp(again.data(), p, n) == 0;
}

bool FlatToJson(const char* p, size_t n, int depth, const string& path, Json* out, string* error);

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
            if (size == 1) {
                *out = static_cast<int64_t>(Load<int8_t>(p));
                return true;
            }
            break;
        case T_INT16:
            if (size == 2) {
                *out = static_cast<int64_t>(Load<int16_t>(p));
                return true;
            }
            break;
        case T_INT32:
            if (size == 4) {
                *out = static_cast<int64_t>(Load<int32_t>(p));
                return true;
            }
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
            if (depth < kBagJsonMaxDepth && IsExactFlat(p, size))
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

// Bytes of a flat bag still to be read; every read is checked against them.
class FlatReader {
  public:
    FlatReader(const char* p, size_t left) : p(p), left(left) {}

    bool Take(size_t n, const char** at) {
        if (n > left) return false;
        *at = p;
        p += n;
        left -= n;
        return true;
    }
    bool Read32(uint32_t* value) {
        const char* at;
        if (!Take(4, &at)) return false;
        *value = Load<uint32_t>(at);
        return true;
    }

  private:
    const char* p;
    size_t left;
};

bool FlatToJson(const char* p, size_t n, int depth, const string& path, Json* out, string* error) {
    const string kCut = "internal error: the flat bag ends inside a record";
    FlatReader in(p, n);
    const char* lead;
    uint32_t what, who, when, size, count;
    if (!in.Take(4, &lead) || !in.Read32(&what) || !in.Read32(&who) || !in.Read32(&when) ||
        !in.Read32(&size) || !in.Read32(&count))
        return Fail(error, path, kCut);

    Json bag = Json::object();
    if (depth == 0) bag["zobag"] = kBagJsonVersion;
    bag["what"] = what;
    bag["who"] = who;
    bag["when"] = when;
    Json items = Json::array();
    for (uint32_t i = 0; i < count; i++) {
        string itemPath = Index(path, "items", i);
        uint32_t hash, nameLength, type, elements;
        const char* name;
        if (!in.Read32(&hash) || !in.Read32(&nameLength) || !in.Take(nameLength, &name) ||
            !in.Read32(&type) || !in.Read32(&elements))
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
            if (!in.Read32(&elementSize) || !in.Take(elementSize, &payload))
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

// ---- JSON to bag ----

// Parses the text, refusing an object that names one member twice: JSON
// readers disagree on which one wins, so the text would mean two bags.
bool Parse(const char* text, size_t length, Json* document, string* error) {
    std::vector<std::set<string>> open;  // member names of each object being read
    string repeated;
    Json::parser_callback_t noteKeys = [&](int, Json::parse_event_t event, Json& parsed) {
        if (event == Json::parse_event_t::object_start) {
            open.emplace_back();
        } else if (event == Json::parse_event_t::object_end) {
            if (!open.empty()) open.pop_back();
        } else if (event == Json::parse_event_t::key && !open.empty()) {
            const string& key = parsed.get_ref<const string&>();
            if (!open.back().insert(key).second && repeated.empty()) repeated = key;
        }
        return true;
    };
    try {
        *document = Json::parse(text, text + length, noteKeys);
    } catch (const Json::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 1, ..." without its tag.
        string message = e.what();
        size_t tag = message.find("] ");
        return Fail(error, "",
                    "not valid JSON: " + (tag == string::npos ? message : message.substr(tag + 2)));
    }
    if (!repeated.empty())
        return Fail(error, "", "an object names the member \"" + repeated + "\" twice");
    return true;
}

// Integers come as JSON numbers or as decimal strings (for int64 values a
// double cannot hold).
bool Integer(const Json& value, int64_t least, int64_t most, int64_t* out) {
    int64_t number;
    if (value.is_number_unsigned()) {
        uint64_t positive = value.get<uint64_t>();
        if (positive > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
        number = static_cast<int64_t>(positive);
    } else if (value.is_number_integer()) {
        number = value.get<int64_t>();
    } else if (value.is_string()) {
        const string& text = value.get_ref<const string&>();
        const char* end = text.data() + text.size();
        if (text.empty() || text[0] == '+') return false;
        auto result = std::from_chars(text.data(), end, number);
        if (result.ec != std::errc() || result.ptr != end) return false;
    } else {
        return false;
    }
    if (number < least || number > most) return false;
    *out = number;
    return true;
}

// A 32-bit word, signed or unsigned: -1 and 4294967295 are the same word.
bool Word(const Json& value, uint32_t* out) {
    int64_t number;
    if (!value.is_number() || !Integer(value, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<uint32_t>::max(), &number))
        return false;
    *out = static_cast<uint32_t>(number);
    return true;
}

// "nan", "-nan", "inf", "-inf": index into the bit patterns below, or -1.
int Special(const Json& value) {
    if (!value.is_string()) return -1;
    const char* const names[] = {"nan", "-nan", "inf", "-inf"};
    for (int i = 0; i < 4; i++)
        if (value.get_ref<const string&>() == names[i]) return i;
    return -1;
}

bool Float32Bytes(const Json& value, string* out) {
    const uint32_t special[] = {0x7FC00000u, 0xFFC00000u, 0x7F800000u, 0xFF800000u};
    int which = Special(value);
    if (which >= 0) {
        Store(out, special[which]);
        return true;
    }
    if (!value.is_number()) return false;
    double number = value.get<double>();
    float narrow;
    if (std::fabs(number) <= FLT_MAX) {
        narrow = static_cast<float>(number);
    } else if (std::fabs(number) < static_cast<double>(FLT_MAX) + std::ldexp(1.0, 103)) {
        narrow = number < 0 ? -FLT_MAX : FLT_MAX;  // rounds to the largest float, not beyond
    } else {
        return false;  // would round to infinity: write "inf" for that
    }
    Store(out, narrow);
    return true;
}

bool Float64Bytes(const Json& value, string* out) {
    const uint64_t special[] = {0x7FF8000000000000u, 0xFFF8000000000000u, 0x7FF0000000000000u,
                                0xFFF0000000000000u};
    int which = Special(value);
    if (which >= 0) {
        Store(out, special[which]);
        return true;
    }
    if (!value.is_number()) return false;
    Store(out, value.get<double>());
    return true;
}

// A name: a JSON string, or {"bytes": base64} for bytes that are not UTF-8.
bool TextBytes(const Json& value, string* out) {
    if (value.is_string()) {
        *out = value.get_ref<const string&>();
        return true;
    }
    return value.is_object() && value.size() == 1 && value.contains("bytes") &&
           value["bytes"].is_string() && FromBase64(value["bytes"].get_ref<const string&>(), out);
}

bool TypeCode(const Json& value, int32_t* code) {
    if (value.is_string()) {
        for (const auto& type : kTypeNames) {
            if (value.get_ref<const string&>() == type.name) {
                *code = type.code;
                return true;
            }
        }
        return false;
    }
    int64_t number;
    if (!value.is_number() || !Integer(value, std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max(), &number))
        return false;
    *code = static_cast<int32_t>(number);
    return true;
}

// "a string element", "an int8 element", "an element of type 42".
string ElementKind(int32_t type) {
    const char* name = TypeName(type);
    if (name == nullptr) return "an element of type " + std::to_string(type);
    return string(name[0] == 'i' ? "an " : "a ") + name + " element";
}

void Patch32(string* out, size_t at, uint32_t value) {
    Little(&value);
    memcpy(&(*out)[at], &value, 4);
}

bool BagToFlat(const Json& bag, int depth, const string& path, string* out, string* error);

bool ElementToFlat(int32_t type, const Json& value, int depth, const string& path, string* out,
                   string* error) {
    size_t sizeAt = out->size();
    Store<uint32_t>(out, 0);
    if (value.is_object() && (type != T_BAG || value.contains("bytes"))) {
        string bytes;
        if (value.is_object() && value.size() == 1 && value.contains("bytes") &&
            value["bytes"].is_string()) {
            if (!FromBase64(value["bytes"].get_ref<const string&>(), &bytes))
                return Fail(error, path + "/bytes", "not canonical padded base64");
            out->append(bytes);
        } else {
            return Fail(error, path, "raw bytes are written {\"bytes\": \"<base64>\"}");
        }
    } else {
        const char* expected = nullptr;
        int64_t number;
        switch (type) {
            case T_STRING:
                if (value.is_string())
                    out->append(value.get_ref<const string&>()).push_back('\0');
                else
                    expected = "a string";
                break;
            case T_BOOL:
                if (value.is_boolean())
                    out->push_back(value.get<bool>() ? 1 : 0);
                else
                    expected = "true or false";
                break;
            case T_INT8:
                if (Integer(value, INT8_MIN, INT8_MAX, &number))
                    Store(out, static_cast<int8_t>(number));
                else
                    expected = "an integer from -128 to 127";
                break;
            case T_INT16:
                if (Integer(value, INT16_MIN, INT16_MAX, &number))
                    Store(out, static_cast<int16_t>(number));
                else
                    expected = "an integer from -32768 to 32767";
                break;
            case T_INT32:
                if (Integer(value, INT32_MIN, INT32_MAX, &number))
                    Store(out, static_cast<int32_t>(number));
                else
                    expected = "an integer from -2147483648 to 2147483647";
                break;
            case T_INT64:
                if (Integer(value, INT64_MIN, INT64_MAX, &number))
                    Store(out, number);
                else
                    expected = "a 64-bit integer (a number, or a decimal string)";
                break;
            case T_FLOAT32:
                if (!Float32Bytes(value, out))
                    expected =
                        "a number within the float32 range, \"nan\", \"-nan\", \"inf\" or "
                        "\"-inf\"";
                break;
            case T_FLOAT64:
                if (!Float64Bytes(value, out))
                    expected = "a number, \"nan\", \"-nan\", \"inf\" or \"-inf\"";
                break;
            case T_BAG:
                if (!value.is_object()) {
                    expected = "a bag object or {\"bytes\": \"<base64>\"}";
                } else if (depth >= kBagJsonMaxDepth) {
                    return Fail(error, path,
                                "nested bags go deeper than " + std::to_string(kBagJsonMaxDepth) +
                                    " levels");
                } else if (!BagToFlat(value, depth + 1, path, out, error)) {
                    return false;
                }
                break;
            default: {  // T_BUFFER and type codes without a name
                string bytes;
                if (value.is_string() && FromBase64(value.get_ref<const string&>(), &bytes))
                    out->append(bytes);
                else
                    expected = "canonical padded base64 text";
            }
        }
        if (expected != nullptr) return Fail(error, path, ElementKind(type) + " is " + expected);
    }
    size_t size = out->size() - sizeAt - 4;
    if (size > std::numeric_limits<uint32_t>::max())
        return Fail(error, path, "an element of 4 GiB or more does not fit the flat form");
    Patch32(out, sizeAt, static_cast<uint32_t>(size));
    return true;
}

bool ItemToFlat(const Json& item, int depth, const string& path, string* out, string* error) {
    if (!item.is_object()) return Fail(error, path, "an item is an object");
    const Json *name = nullptr, *hash = nullptr, *type = nullptr, *values = nullptr;
    for (const auto& member : item.items()) {
        const string& key = member.key();
        if (key == "name")
            name = &member.value();
        else if (key == "hash")
            hash = &member.value();
        else if (key == "type")
            type = &member.value();
        else if (key == "values")
            values = &member.value();
        else
            return Fail(error, path,
                        "unknown member \"" + key + "\" (an item has name, hash, type and values)");
    }
    if (name == nullptr || type == nullptr || values == nullptr)
        return Fail(error, path, "an item needs a name, a type and its values");

    string nameBytes;
    if (!TextBytes(*name, &nameBytes))
        return Fail(error, path + "/name", "a name is a string or {\"bytes\": \"<base64>\"}");
    if (nameBytes.find('\0') != string::npos)
        return Fail(error, path + "/name", "a name cannot hold a NUL byte");
    int32_t code;
    if (!TypeCode(*type, &code))
        return Fail(error, path + "/type",
                    "a type is string, bool, int8, int16, int32, int64, float32, float64, buffer, "
                    "bag, or a 32-bit type code");
    if (code == T_POINTER)
        return Fail(error, path + "/type",
                    "pointers mean nothing outside the process that stored them and cannot be "
                    "made from JSON");
    uint32_t hashWord = static_cast<uint32_t>(ZoBag::Hash(nameBytes.c_str()));
    if (hash != nullptr && !Word(*hash, &hashWord))
        return Fail(error, path + "/hash", "a hash is an integer from -2147483648 to 4294967295");
    if (!values->is_array() || values->empty())
        return Fail(error, path + "/values",
                    "values is an array of at least one element (a bag holds no empty item)");
    if (nameBytes.size() > std::numeric_limits<uint32_t>::max() ||
        values->size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        return Fail(error, path, "the item is too large for the flat form");

    Store(out, hashWord);
    Store(out, static_cast<uint32_t>(nameBytes.size()));
    out->append(nameBytes);
    Store(out, code);
    Store(out, static_cast<int32_t>(values->size()));
    for (size_t k = 0; k < values->size(); k++)
        if (!ElementToFlat(code, (*values)[k], depth, Index(path, "values", k), out, error))
            return false;
    return true;
}

bool BagToFlat(const Json& bag, int depth, const string& path, string* out, string* error) {
    if (!bag.is_object()) return Fail(error, path, "a bag is an object");
    uint32_t words[3] = {0, 0, 0};  // what, who, when
    const char* const wordNames[3] = {"what", "who", "when"};
    const Json* items = nullptr;
    for (const auto& member : bag.items()) {
        const string& key = member.key();
        const Json& value = member.value();
        bool known = false;
        for (int i = 0; i < 3; i++) {
            if (key != wordNames[i]) continue;
            if (!Word(value, &words[i]))
                return Fail(error, path + "/" + key,
                            "a header word is an integer from -2147483648 to 4294967295");
            known = true;
        }
        if (known) continue;
        if (key == "zobag") {
            int64_t version;
            if (!value.is_number() || !Integer(value, 0, INT64_MAX, &version) ||
                version != kBagJsonVersion)
                return Fail(error, path + "/zobag",
                            "this reader knows version " + std::to_string(kBagJsonVersion) +
                                " of the JSON form only");
        } else if (key == "items") {
            if (!value.is_array()) return Fail(error, path + "/items", "items is an array");
            items = &value;
        } else {
            return Fail(error, path,
                        "unknown member \"" + key + "\" (a bag has what, who, when and items)");
        }
    }

    size_t start = out->size();
    out->append(kPlainLead, 4);
    for (uint32_t word : words)
        Store(out, word);
    Store<uint32_t>(out, 0);  // the size, known at the end
    size_t count = items != nullptr ? items->size() : 0;
    if (count > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
        return Fail(error, path, "too many items for the flat form");
    Store(out, static_cast<int32_t>(count));
    for (size_t i = 0; i < count; i++)
        if (!ItemToFlat((*items)[i], depth, Index(path, "items", i), out, error)) return false;

    size_t size = out->size() - start;
    if (size > std::numeric_limits<uint32_t>::max())
        return Fail(error, path, "the bag is too large for the flat form (4 GiB or more)");
    Patch32(out, start + kSizeField, static_cast<uint32_t>(size));
    return true;
}

}  // namespace

bool BagToJson(ZoBag* bag, int indent, string* json, string* error) {
    if (bag == nullptr) return Fail(error, "", "no bag");
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

bool JsonToFlat(const char* text, size_t length, string* flat, string* error) {
    try {
        Json document;
        if (!Parse(text, length, &document, error)) return false;
        string out;
        if (!BagToFlat(document, 0, "", &out, error)) return false;
        *flat = std::move(out);
        return true;
    } catch (const std::exception& e) {
        return Fail(error, "", e.what());
    }
}

ZoBag* BagFromJson(const char* text, size_t length, string* error) {
    string flat;
    if (!JsonToFlat(text, length, &flat, error)) return nullptr;
    std::unique_ptr<ZoBag> bag(new ZoBag(0, 0));
    if (!bag->Unflatten(flat.data(), flat.size())) {
        Fail(error, "", "internal error: the library refused the flat bag made from the JSON");
        return nullptr;
    }
    return bag.release();
}
