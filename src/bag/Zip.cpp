// Every compression of the library goes through this file, so that the zlib
// calls and the state they keep stay in one place.
#include <zolib/bag/Zip.h>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bag/internal/FlatFormat.h"

using zolib_internal::Get32;
using zolib_internal::kZipLengthSize;
using zolib_internal::Put32;

namespace {

// Inflate turns one byte of stream into at most 1032 bytes (a 258-byte match
// coded in two bits), so no honest block claims more than this.
constexpr unsigned long kMaxRatio = 1032;
// First guess at the output of a block whose claim is larger than that.
constexpr unsigned long kFirstGuess = 64 * 1024;

// zlib's one-shot calls build and tear down their whole state on every call:
// about 256 KiB of deflate state, which costs more than compressing a small
// bag. Each thread keeps one deflate and one inflate stream instead, made on
// first use, reset between uses and released when the thread ends. A reset
// stream starts exactly as a new one does, so the bytes are those of
// compress2 and the results those of uncompress.
class Streams {
  public:
    Streams() = default;
    Streams(const Streams&) = delete;
    Streams& operator=(const Streams&) = delete;
    ~Streams() {
        if (deflating) deflateEnd(&deflater);
        if (inflating) inflateEnd(&inflater);
    }

    // A deflate stream at `level` ready for a new input, or null.
    z_stream* Deflater(int level) {
        if (deflating && deflateLevel != level) {
            deflateEnd(&deflater);
            deflating = false;
        }
        if (!deflating) {
            deflater = z_stream();
            if (deflateInit(&deflater, level) != Z_OK) return nullptr;
            deflating = true;
            deflateLevel = level;
        } else if (deflateReset(&deflater) != Z_OK) {
            return nullptr;
        }
        return &deflater;
    }

    // An inflate stream ready for a new input, or null.
    z_stream* Inflater() {
        if (!inflating) {
            inflater = z_stream();
            if (inflateInit(&inflater) != Z_OK) return nullptr;
            inflating = true;
        } else if (inflateReset(&inflater) != Z_OK) {
            return nullptr;
        }
        return &inflater;
    }

    // Taken for the length of one call, so a call that reaches this thread's
    // streams while they are in use (a signal handler) makes its own.
    bool busy = false;

  private:
    z_stream deflater;
    z_stream inflater;
    bool deflating = false;
    bool inflating = false;
    int deflateLevel = 0;
};

thread_local Streams streams;

// The thread's streams for one call, or null when they are in use.
class Lease {
  public:
    Lease() : held(!streams.busy) { streams.busy = true; }
    ~Lease() {
        if (held) streams.busy = false;
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;
    Streams* Get() { return held ? &streams : nullptr; }

  private:
    bool held;
};

// compress2 over a ready stream: the same calls in the same order.
int Compress(z_stream* stream, Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen) {
    const uInt max = static_cast<uInt>(-1);
    uLong left = *destLen;
    *destLen = 0;
    stream->next_out = dest;
    stream->avail_out = 0;
    stream->next_in = const_cast<Bytef*>(source);
    stream->avail_in = 0;
    int err;
    do {
        if (stream->avail_out == 0) {
            stream->avail_out = left > max ? max : static_cast<uInt>(left);
            left -= stream->avail_out;
        }
        if (stream->avail_in == 0) {
            stream->avail_in = sourceLen > max ? max : static_cast<uInt>(sourceLen);
            sourceLen -= stream->avail_in;
        }
        err = deflate(stream, sourceLen ? Z_NO_FLUSH : Z_FINISH);
    } while (err == Z_OK);
    *destLen = stream->total_out;
    return err == Z_STREAM_END ? Z_OK : err;
}

// uncompress over a ready stream: the same calls and the same results.
int Uncompress(z_stream* stream, Bytef* dest, uLongf* destLen, const Bytef* source,
               uLong sourceLen) {
    const uInt max = static_cast<uInt>(-1);
    Bytef one[1];  // tells an incomplete stream when no output is wanted
    uLong left;
    if (*destLen) {
        left = *destLen;
        *destLen = 0;
    } else {
        left = 1;
        dest = one;
    }
    stream->next_in = const_cast<Bytef*>(source);
    stream->avail_in = 0;
    stream->next_out = dest;
    stream->avail_out = 0;
    int err;
    do {
        if (stream->avail_out == 0) {
            stream->avail_out = left > max ? max : static_cast<uInt>(left);
            left -= stream->avail_out;
        }
        if (stream->avail_in == 0) {
            stream->avail_in = sourceLen > max ? max : static_cast<uInt>(sourceLen);
            sourceLen -= stream->avail_in;
        }
        err = inflate(stream, Z_NO_FLUSH);
    } while (err == Z_OK);
    if (dest != one)
        *destLen = stream->total_out;
    else if (stream->total_out && err == Z_BUF_ERROR)
        left = 1;
    return err == Z_STREAM_END                              ? Z_OK
           : err == Z_NEED_DICT                             ? Z_DATA_ERROR
           : err == Z_BUF_ERROR && left + stream->avail_out ? Z_DATA_ERROR
                                                            : err;
}

int Deflate(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen, int level) {
    Lease lease;
    z_stream* stream = lease.Get() != nullptr ? lease.Get()->Deflater(level) : nullptr;
    if (stream == nullptr) return compress2(dest, destLen, source, sourceLen, level);
    return Compress(stream, dest, destLen, source, sourceLen);
}

int Inflate(Bytef* dest, uLongf* destLen, const Bytef* source, uLong sourceLen) {
    Lease lease;
    z_stream* stream = lease.Get() != nullptr ? lease.Get()->Inflater() : nullptr;
    if (stream == nullptr) return uncompress(dest, destLen, source, sourceLen);
    return Uncompress(stream, dest, destLen, source, sourceLen);
}

}  // namespace

unsigned long MaxZippedSize(unsigned long n) {
    return static_cast<unsigned long>(static_cast<double>(n + 4) + static_cast<double>(n) * 0.1 +
                                      12);
}

char* Zip(const char* src, unsigned long srcLength, unsigned long* outLength, int level, char* dst,
          bool shrink) {
    if (outLength == nullptr || (src == nullptr && srcLength > 0) || srcLength > UINT32_MAX)
        return nullptr;
    static const char kNothing = 0;
    if (src == nullptr) src = &kNothing;
    unsigned long cap = srcLength + static_cast<unsigned long>(srcLength * 0.1) + 12;
    char* out = dst != nullptr ? dst : static_cast<char*>(malloc(cap + kZipLengthSize));
    if (out == nullptr) return nullptr;
    uLongf streamLength = cap;
    if (Deflate(reinterpret_cast<Bytef*>(out + kZipLengthSize), &streamLength,
                reinterpret_cast<const Bytef*>(src), srcLength, level) != Z_OK) {
        if (dst == nullptr) free(out);
        return nullptr;
    }
    Put32(out, static_cast<uint32_t>(srcLength));
    if (shrink) {
        char* tight = static_cast<char*>(realloc(out, streamLength + kZipLengthSize));
        if (tight != nullptr) out = tight;
    }
    *outLength = streamLength + kZipLengthSize;
    return out;
}

char* Unzip(const char* src, unsigned long srcLength, unsigned long* outLength, char* dst) {
    if (src == nullptr || outLength == nullptr || srcLength <= kZipLengthSize) return nullptr;
    uint32_t claimed = Get32(src);
    *outLength = claimed;
    const Bytef* stream = reinterpret_cast<const Bytef*>(src + kZipLengthSize);
    uLong streamLength = srcLength - kZipLengthSize;
    if (dst != nullptr) {
        uLongf produced = claimed;
        if (Inflate(reinterpret_cast<Bytef*>(dst), &produced, stream, streamLength) != Z_OK)
            return nullptr;
        *outLength = produced;
        return dst;
    }
    // The claim comes with the bytes, so it is not trusted for the allocation:
    // cap it by what the stream could produce at all, and when it is large,
    // start from a guess and grow only while the stream keeps producing.
    // Damaged streams then fail before anything big is allocated.
    unsigned long most = std::min<unsigned long>(claimed, (streamLength + 1) * kMaxRatio);
    unsigned long room = std::min(most, kFirstGuess + 16 * streamLength);
    for (;;) {
        char* out = static_cast<char*>(malloc(room > 0 ? room : 1));
        if (out == nullptr) return nullptr;
        uLongf produced = room;
        int result = Inflate(reinterpret_cast<Bytef*>(out), &produced, stream, streamLength);
        if (result == Z_OK) {
            *outLength = produced;
            return out;
        }
        free(out);
        // Z_BUF_ERROR here means the output filled up: the stream has more.
        if (result != Z_BUF_ERROR || room >= most) return nullptr;
        room = room > most / 4 ? most : room * 4;
    }
}
