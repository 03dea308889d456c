#include <zolib/messaging/Pipe.h>

#include "internal/Unwind.h"

#include <unistd.h>

ZoPipe::ZoPipe(unsigned int tag) : ZoChannel(tag, CHANNEL_READ_WRITE, 0) {
    int ends[2];
    if (pipe(ends) != 0) return;
    readFd = ends[0];
    writeFd = ends[1];
}

ZoPipe::~ZoPipe() {
    ZoNoCancel hold;  // close() is a cancellation point
    if (readFd != -1) close(readFd);
    if (writeFd != -1) close(writeFd);
}

bool ZoPipe::Read(char* data, unsigned int* length) {
    if (length == nullptr || (data == nullptr && *length > 0)) return false;
    ssize_t n = read(readFd, data, *length);
    if (n <= 0) return false;  // end of file or an error
    *length = static_cast<unsigned int>(n);
    received += static_cast<uint32_t>(n);
    return true;
}

bool ZoPipe::Write(const char* data, unsigned int length, void*) {
    if (data == nullptr && length > 0) return false;
    ssize_t n = write(writeFd, data, length);
    if (n < 0 || static_cast<size_t>(n) != length) return false;
    sent += static_cast<uint32_t>(n);
    return true;
}
