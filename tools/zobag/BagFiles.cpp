#include "BagFiles.h"

#include <zolib/bag/Bag.h>
#include <zolib/bag/Zip.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

namespace {

using std::string;

constexpr size_t kHeaderSize = 24;  // magic, flag, what, who, when, size, count
constexpr size_t kSizeField = 16;   // offset of the size field in the plain form
constexpr size_t kLengthWord = 4;   // ahead of a bag file's flat bag
constexpr size_t kZippedLead = 4;   // "BaG" and the flag, ahead of the zip block
constexpr size_t kBodyShift = 4;    // the compressed body is the plain form less its lead

// Fields of flat bags and bag files are little-endian on every host.
uint32_t Get32(const char* p) {
    uint32_t value;
    memcpy(&value, p, 4);
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) value = __builtin_bswap32(value);
    return value;
}

void Put32(char* p, uint32_t value) {
    if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__) value = __builtin_bswap32(value);
    memcpy(p, &value, 4);
}

bool HasMagic(const string& bytes, size_t at) {
    return bytes.size() >= at + 4 && memcmp(bytes.data() + at, "BaG", 3) == 0;
}

string Bytes(size_t n) {
    return std::to_string(n) + (n == 1 ? " byte" : " bytes");
}

bool Fail(string* error, const string& message) {
    *error = message;
    return false;
}

struct FreeDeleter {
    void operator()(char* p) const { free(p); }
};

// A flat bag of either form into the plain form.
bool PlainOfFlat(const string& flat, string* plain, string* error) {
    unsigned char flag = static_cast<unsigned char>(flat[3]);
    if (flag == 0) {
        if (flat.size() < kHeaderSize)
            return Fail(error, "a plain flat bag of " + Bytes(flat.size()) +
                                   " is shorter than its 24-byte header");
        uint32_t size = Get32(flat.data() + kSizeField);
        if (size != flat.size())
            return Fail(error, "the flat bag's size field says " + Bytes(size) + " but it has " +
                                   Bytes(flat.size()));
        *plain = flat;
        return true;
    }
    if (flag != 1)
        return Fail(error, "unknown compression flag " + std::to_string(flag) +
                               " (0 is plain, 1 compressed)");

    unsigned long bodyLength = 0;
    std::unique_ptr<char, FreeDeleter> body(
        Unzip(flat.data() + kZippedLead, flat.size() - kZippedLead, &bodyLength, nullptr));
    if (body == nullptr)
        return Fail(error,
                    "the compressed flat bag does not decompress (its zlib stream is "
                    "damaged or cut short)");
    if (bodyLength < kHeaderSize - kBodyShift)
        return Fail(error, "the compressed flat bag holds " + Bytes(bodyLength) +
                               ", less than a bag header");
    uint32_t size = Get32(body.get() + kSizeField - kBodyShift);
    if (size != bodyLength)
        return Fail(error, "the compressed body's size field says " + Bytes(size) +
                               " but it holds " + Bytes(bodyLength));
    if (bodyLength + kBodyShift > std::numeric_limits<uint32_t>::max())
        return Fail(error, "the bag is too large for the plain flat form");
    string out("BaG", 4);  // with its NUL: the plain flag
    out.append(body.get(), bodyLength);
    Put32(&out[kSizeField], static_cast<uint32_t>(out.size()));
    *plain = std::move(out);
    return true;
}

}  // namespace

const char* BagFormName(BagForm form) {
    switch (form) {
        case BagForm::File:
            return "bag file";
        case BagForm::Plain:
            return "plain flat bag";
        case BagForm::Zipped:
            return "compressed flat bag";
    }
    return "?";
}

bool ReadFile(const string& path, string* bytes, string* error) {
    bool standardInput = path == "-";
    FILE* file = standardInput ? stdin : fopen(path.c_str(), "rb");
    if (file == nullptr) return Fail(error, strerror(errno));
    string out;
    char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0)
        out.append(chunk, n);
    int readError = ferror(file) ? errno : 0;
    if (!standardInput) fclose(file);
    if (readError != 0) return Fail(error, strerror(readError));
    *bytes = std::move(out);
    return true;
}

bool WriteFile(const string& path, const string& bytes, string* error) {
    bool standardOutput = path == "-";
    FILE* file = standardOutput ? stdout : fopen(path.c_str(), "wb");
    if (file == nullptr) return Fail(error, strerror(errno));
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int writeError = written ? 0 : errno;
    if (standardOutput) {
        if (fflush(file) != 0 && written) written = false, writeError = errno;
    } else if (fclose(file) != 0 && written) {
        written = false, writeError = errno;
    }
    if (!written) return Fail(error, strerror(writeError != 0 ? writeError : EIO));
    return true;
}

bool PlainFlatOf(const string& bytes, BagForm* form, string* plain, string* error) {
    // A bag file whose length word matches is taken first: a flat bag whose
    // `what` starts with "BaG" and whose first word is its own length less 4
    // is the only input both readings fit.
    if (bytes.size() >= kLengthWord + 4 && HasMagic(bytes, kLengthWord) &&
        Get32(bytes.data()) == bytes.size() - kLengthWord) {
        *form = BagForm::File;
        return PlainOfFlat(bytes.substr(kLengthWord), plain, error);
    }
    if (HasMagic(bytes, 0)) {
        *form = bytes[3] == 0 ? BagForm::Plain : BagForm::Zipped;
        return PlainOfFlat(bytes, plain, error);
    }
    if (bytes.size() >= kLengthWord + 4 && HasMagic(bytes, kLengthWord)) {
        uint32_t length = Get32(bytes.data());
        size_t follow = bytes.size() - kLengthWord;
        if (length > follow)
            return Fail(error, "the bag file is cut short: its length word says " + Bytes(length) +
                                   " but " + Bytes(follow) + " follow");
        return Fail(error, "the bag file has " + Bytes(follow - length) + " after its flat bag");
    }
    if (bytes.empty()) return Fail(error, "the file is empty");
    return Fail(error, "not a bag file or a flat bag (no \"BaG\" lead)");
}

ZoBag* BagOfPlain(const string& plain, string* error) {
    std::unique_ptr<ZoBag> bag(new ZoBag(0, 0));
    if (!bag->Unflatten(plain.data(), plain.size())) {
        Fail(error,
             "the flat bag's records are not valid (a record runs past the end of the "
             "bag, or an item has no element)");
        return nullptr;
    }
    return bag.release();
}

ZoBag* LoadBag(const string& path, string* error) {
    string bytes, plain;
    BagForm form;
    if (!ReadFile(path, &bytes, error) || !PlainFlatOf(bytes, &form, &plain, error)) return nullptr;
    return BagOfPlain(plain, error);
}

bool BagBytes(ZoBag* bag, BagForm form, string* bytes, string* error) {
    bool zip = form != BagForm::Plain;
    string flat(bag->FlatSize(zip), '\0');
    unsigned long size = flat.size();
    if (!bag->Flatten(&flat[0], &size, zip))
        return Fail(error, "the bag cannot be flattened (too large, or compression failed)");
    flat.resize(size);
    if (form != BagForm::File) {
        *bytes = std::move(flat);
        return true;
    }
    string file(kLengthWord, '\0');
    Put32(&file[0], static_cast<uint32_t>(flat.size()));
    file.append(flat);
    *bytes = std::move(file);
    return true;
}
