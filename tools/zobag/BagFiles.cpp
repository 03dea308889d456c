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

#include "bag/internal/FlatFormat.h"

namespace {

using std::string;
using zolib_internal::Get32;
using zolib_internal::kBodyShift;
using zolib_internal::kFileLengthSize;
using zolib_internal::kFlagAt;
using zolib_internal::kFlatHeader;
using zolib_internal::kLeadSize;
using zolib_internal::kPlainFlag;
using zolib_internal::kSizeAt;
using zolib_internal::kZippedFlag;
using zolib_internal::Put32;

bool HasMagic(const string& bytes, size_t at) {
    return bytes.size() >= at && zolib_internal::HasLead(bytes.data() + at, bytes.size() - at);
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
    unsigned char flag = static_cast<unsigned char>(flat[kFlagAt]);
    if (flag == kPlainFlag) {
        if (flat.size() < kFlatHeader)
            return Fail(error, "a plain flat bag of " + Bytes(flat.size()) +
                                   " is shorter than its 24-byte header");
        uint32_t size = Get32(flat.data() + kSizeAt);
        if (size != flat.size())
            return Fail(error, "the flat bag's size field says " + Bytes(size) + " but it has " +
                                   Bytes(flat.size()));
        *plain = flat;
        return true;
    }
    if (flag != kZippedFlag)
        return Fail(error, "unknown compression flag " + std::to_string(flag) +
                               " (0 is plain, 1 compressed)");

    unsigned long bodyLength = 0;
    std::unique_ptr<char, FreeDeleter> body(
        Unzip(flat.data() + kLeadSize, flat.size() - kLeadSize, &bodyLength, nullptr));
    if (body == nullptr)
        return Fail(error,
                    "the compressed flat bag does not decompress (its zlib stream is "
                    "damaged or cut short)");
    if (bodyLength < kFlatHeader - kBodyShift)
        return Fail(error, "the compressed flat bag holds " + Bytes(bodyLength) +
                               ", less than a bag header");
    uint32_t size = Get32(body.get() + kSizeAt - kBodyShift);
    if (size != bodyLength)
        return Fail(error, "the compressed body's size field says " + Bytes(size) +
                               " but it holds " + Bytes(bodyLength));
    if (bodyLength + kBodyShift > std::numeric_limits<uint32_t>::max())
        return Fail(error, "the bag is too large for the plain flat form");
    string out(kLeadSize, '\0');
    zolib_internal::PutLead(&out[0], kPlainFlag);
    out.append(body.get(), bodyLength);
    Put32(&out[kSizeAt], static_cast<uint32_t>(out.size()));
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
    if (HasMagic(bytes, kFileLengthSize) && Get32(bytes.data()) == bytes.size() - kFileLengthSize) {
        *form = BagForm::File;
        return PlainOfFlat(bytes.substr(kFileLengthSize), plain, error);
    }
    if (HasMagic(bytes, 0)) {
        *form = bytes[kFlagAt] == kPlainFlag ? BagForm::Plain : BagForm::Zipped;
        return PlainOfFlat(bytes, plain, error);
    }
    if (HasMagic(bytes, kFileLengthSize)) {
        uint32_t length = Get32(bytes.data());
        size_t follow = bytes.size() - kFileLengthSize;
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
    string file(kFileLengthSize, '\0');
    Put32(&file[0], static_cast<uint32_t>(flat.size()));
    file.append(flat);
    *bytes = std::move(file);
    return true;
}
