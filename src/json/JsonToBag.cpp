// The JSON form of a bag to its plain flat form, and to a bag. The reader
// writes the flat form itself: it is the one place where stored hashes, items
// of one hash and elements of any size can all be written exactly.
#include <zolib/bag/Bag.h>
#include <zolib/json/BagJson.h>

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

#include "bag/internal/FlatFormat.h"
#include "json/internal/JsonForm.h"

namespace {

using namespace zolib_json_internal;
using std::string;
using zolib_internal::kLeadSize;
using zolib_internal::kPlainFlag;
using zolib_internal::kSizeAt;

// Appends a fixed-width value in the flat form's byte order.
template <typename T>
void Store(string* out, T value) {
    char bytes[sizeof value];
    zolib_internal::Store(bytes, value);
    out->append(bytes, sizeof bytes);
}

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

// An integer within T's range, appended in T's width.
template <typename T>
bool IntegerBytes(const Json& value, string* out) {
    int64_t number;
    if (!Integer(value, std::numeric_limits<T>::min(), std::numeric_limits<T>::max(), &number))
        return false;
    Store(out, static_cast<T>(number));
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
    if (value.is_string())
        return zolib_json_internal::TypeCode(value.get_ref<const string&>(), code);
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
    zolib_internal::Put32(&(*out)[at], value);
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
                if (!IntegerBytes<int8_t>(value, out)) expected = "an integer from -128 to 127";
                break;
            case T_INT16:
                if (!IntegerBytes<int16_t>(value, out))
                    expected = "an integer from -32768 to 32767";
                break;
            case T_INT32:
                if (!IntegerBytes<int32_t>(value, out))
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
                } else if (depth >= ZoBagJsonMaxDepth) {
                    return Fail(error, path,
                                "nested bags go deeper than " + std::to_string(ZoBagJsonMaxDepth) +
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
                version != ZoBagJsonVersion)
                return Fail(error, path + "/zobag",
                            "this reader knows version " + std::to_string(ZoBagJsonVersion) +
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
    out->append(kLeadSize, '\0');
    zolib_internal::PutLead(&(*out)[start], kPlainFlag);
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
    Patch32(out, start + kSizeAt, static_cast<uint32_t>(size));
    return true;
}

}  // namespace

bool ZoJsonToFlat(const char* text, size_t length, string* flat, string* error) {
    string unused;
    if (error == nullptr) error = &unused;
    if ((text == nullptr && length > 0) || flat == nullptr)
        return Fail(error, "", "no text or no output");
    if (text == nullptr) text = "";
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

ZoBag* ZoBagFromJson(const char* text, size_t length, string* error) {
    string flat;
    if (!ZoJsonToFlat(text, length, &flat, error)) return nullptr;
    std::unique_ptr<ZoBag> bag(new ZoBag(0, 0));
    if (!bag->Unflatten(flat.data(), flat.size())) {
        if (error != nullptr)
            Fail(error, "", "internal error: the library refused the flat bag made from the JSON");
        return nullptr;
    }
    return bag.release();
}
