#include "native_values.h"

#include <cstring>

namespace kvo::fsnative {

const char* const kAttributeFields[kAttributeCount] = {
    "FILE_ATTRIBUTE_READONLY",  "FILE_ATTRIBUTE_HIDDEN",    "FILE_ATTRIBUTE_SYSTEM",
    "FILE_ATTRIBUTE_DIRECTORY", "FILE_ATTRIBUTE_ARCHIVE",   "FILE_ATTRIBUTE_NORMAL",
    "FILE_ATTRIBUTE_TEMPORARY", "FILE_ATTRIBUTE_COMPRESSED"};

const char* const kDriveTypeFields[kDriveTypeCount] = {"TYPE_FLOPPY", "TYPE_FIXED", "TYPE_NETWORK",
                                                       "TYPE_CDROM", "TYPE_RAMDRIVE"};

std::uint32_t systemAttributes(std::int32_t javaBits, const std::int32_t (&javaValues)[kAttributeCount]) {
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < kAttributeCount; ++i)
        if (javaValues[i] != 0 && (javaBits & javaValues[i]) == javaValues[i])
            bits |= kSystemAttributes[i];
    return bits;
}

std::int32_t javaAttributes(std::uint32_t systemBits, const std::int32_t (&javaValues)[kAttributeCount]) {
    std::int32_t bits = 0;
    for (std::size_t i = 0; i < kAttributeCount; ++i)
        if ((systemBits & kSystemAttributes[i]) != 0)
            bits |= javaValues[i];
    return bits;
}

std::int32_t javaDriveType(std::uint32_t systemType, const std::int32_t (&javaValues)[kDriveTypeCount]) {
    for (std::size_t i = 0; i < kDriveTypeCount; ++i)
        if (systemType == kSystemDriveTypes[i])
            return javaValues[i];
    return 0;
}

std::uint64_t joinHalves(std::int32_t low, std::int32_t high) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(high)) << 32) |
           static_cast<std::uint32_t>(low);
}

std::int32_t lowHalf(std::uint64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::int32_t highHalf(std::uint64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value >> 32));
}

std::uint16_t dosWord(std::int32_t field) {
    return static_cast<std::uint16_t>(static_cast<std::uint32_t>(field) & 0xFFFFu);
}

std::int32_t dosField(std::uint16_t word) {
    return static_cast<std::int32_t>(word);
}

std::int64_t handleField(void* handle) {
    return static_cast<std::int64_t>(reinterpret_cast<std::intptr_t>(handle));
}

void* handleOf(std::int64_t field) {
    if (field == kNoHandle)
        return nullptr;
    if constexpr (sizeof(std::intptr_t) < sizeof(std::int64_t)) {
        if (field < INTPTR_MIN || field > INTPTR_MAX)
            return nullptr;
    }
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(field));
}

bool blockFits(std::int32_t off, std::int32_t len, std::int32_t length) {
    return off >= 0 && len >= 0 && length >= 0 && off <= length && len <= length - off;
}

const char* RootStrings::next() {
    if (offset_ >= length_ || block_[offset_] == 0)
        return nullptr;
    const char* start = block_ + offset_;
    const void* end = std::memchr(start, 0, length_ - offset_);
    if (end == nullptr) {
        offset_ = length_;
        return nullptr;
    }
    offset_ = static_cast<std::size_t>(static_cast<const char*>(end) - block_) + 1;
    return start;
}

}  // namespace kvo::fsnative
