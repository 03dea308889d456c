#include <zolib/messaging/Channel.h>

#include <new>

#include "messaging/internal/NewBag.h"

ZoChannel::ZoChannel(unsigned int tag, T_CHANNEL_TYPE type, unsigned char priority)
    : priority(priority),
      tag(tag),
      type(type),
      readFd(-1),
      writeFd(-1),
      buffer(nullptr),
      external(true),
      bufferSize(0),
      mute(false),
      deaf(false),
      received(0),
      sent(0) {}

ZoChannel::~ZoChannel() {
    DropBuffer();
}

void ZoChannel::DropBuffer() {
    if (!external) delete[] buffer;
    buffer = nullptr;
    bufferSize = 0;
    external = true;
}

bool ZoChannel::InitCheck() {
    switch (type) {
        case CHANNEL_READ_WRITE:
            return readFd != -1 && writeFd != -1;
        case CHANNEL_READ:
            return readFd != -1;
        case CHANNEL_WRITE:
            return writeFd != -1;
    }
    return false;
}

bool ZoChannel::Read(char*, unsigned int*) {
    return false;
}

bool ZoChannel::Write(const char*, unsigned int, void*) {
    return false;
}

bool ZoChannel::Receive(char** data, unsigned int* length) {
    if (data == nullptr || length == nullptr) return false;
    // More than the buffer holds cannot be wanted: it would be read past it.
    if (*length > bufferSize) *length = bufferSize;
    if (!Read(buffer, length)) return false;
    *data = buffer;
    return true;
}

bool ZoChannel::Receive(ZoBag** bag) {
    if (bag == nullptr) return false;
    unsigned int length = bufferSize;
    if (!Read(buffer, &length)) return false;
    if (!IsABag(buffer, length)) return false;  // not a bag: consumed and dropped
    ZoBag* made = NewBag(0ul, 0);               // without memory the message is dropped
    *bag = made;
    if (made != nullptr && made->Unflatten(buffer, length)) return true;
    delete made;
    *bag = nullptr;
    return false;
}

bool ZoChannel::Send(ZoBag* bag, void* extra) {
    if (bag == nullptr || buffer == nullptr) return false;
    unsigned long size = bag->FlatSize(true);
    if (size > bufferSize) return false;
    if (!bag->Flatten(buffer, &size, true)) return false;
    return Write(buffer, static_cast<unsigned int>(size), extra);
}

bool ZoChannel::Receive(ZoBag** bag, char** data, unsigned int* length) {
    if (bag == nullptr || data == nullptr || length == nullptr) return false;
    *length = bufferSize;
    if (!Read(buffer, length)) return false;
    if (!IsABag(buffer, *length)) {
        *data = buffer;
        return true;
    }
    ZoBag* made = NewBag(0ul, 0);
    *bag = made;
    if (made != nullptr && made->Unflatten(buffer, *length)) {
        *data = nullptr;
        return true;
    }
    delete made;
    *bag = nullptr;
    return false;
}

int ZoChannel::Device(T_WAY way) const {
    if (way == WAY_READ) return readFd;
    if (way == WAY_WRITE) return writeFd;
    return -1;
}

void ZoChannel::SetBuffer(unsigned int size) {
    DropBuffer();
    buffer = new (std::nothrow) char[size];
    if (buffer == nullptr) return;
    bufferSize = size;
    external = false;
}

void ZoChannel::SetBuffer(unsigned int size, char* block) {
    DropBuffer();
    buffer = block;
    bufferSize = block != nullptr ? size : 0;  // no size without bytes behind it
}

void ZoChannel::Traffic(unsigned int* received, unsigned int* sent) const {
    if (received != nullptr) *received = this->received;
    if (sent != nullptr) *sent = this->sent;
}
