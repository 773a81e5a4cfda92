// The values that cross between Java and the system: attribute bits and drive types (mapped through
// the Java class's own constants), file times in two 32-bit halves, MS-DOS date and time words, file
// handles in a Java long, the bounds of a block within a Java array, and the roots in the block that
// lists the logical drives. Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kvo::fsnative {

// The system's attribute bits, in the order of the Java fields FILE_ATTRIBUTE_READONLY, _HIDDEN,
// _SYSTEM, _DIRECTORY, _ARCHIVE, _NORMAL, _TEMPORARY, _COMPRESSED.
constexpr std::size_t kAttributeCount = 8;
constexpr std::uint32_t kSystemAttributes[kAttributeCount] = {0x1, 0x2, 0x4, 0x10, 0x20, 0x80, 0x100, 0x800};
extern const char* const kAttributeFields[kAttributeCount];

// The system's drive types, in the order of the Java fields TYPE_FLOPPY, TYPE_FIXED, TYPE_NETWORK,
// TYPE_CDROM, TYPE_RAMDRIVE: removable, fixed, remote, CD-ROM, RAM disk.
constexpr std::size_t kDriveTypeCount = 5;
constexpr std::uint32_t kSystemDriveTypes[kDriveTypeCount] = {2, 3, 4, 5, 6};
extern const char* const kDriveTypeFields[kDriveTypeCount];

// The system bits for the Java bits: each Java constant whose bits are all set contributes its
// system bit.
std::uint32_t systemAttributes(std::int32_t javaBits, const std::int32_t (&javaValues)[kAttributeCount]);
// The Java bits for the system bits: each of the eight system bits that is set contributes its Java
// constant; other system bits are dropped.
std::int32_t javaAttributes(std::uint32_t systemBits, const std::int32_t (&javaValues)[kAttributeCount]);
// The Java constant for a system drive type; 0 for any other type.
std::int32_t javaDriveType(std::uint32_t systemType, const std::int32_t (&javaValues)[kDriveTypeCount]);

// A FILETIME value from its halves, and back (as the Java int fields hold them).
std::uint64_t joinHalves(std::int32_t low, std::int32_t high);
std::int32_t lowHalf(std::uint64_t value);
std::int32_t highHalf(std::uint64_t value);

// A DOS date or time word from its Java int field (its low 16 bits), and a word for an int field
// (zero-extended).
std::uint16_t dosWord(std::int32_t field);
std::int32_t dosField(std::uint16_t word);

// A file handle in the Java long field: the handle's full value, sign-extended from its pointer
// size, so -1 is "no handle" on 32 and 64 bits alike.
constexpr std::int64_t kNoHandle = -1;
std::int64_t handleField(void* handle);
// The handle a field holds; null (no handle) for kNoHandle, for 0 and for values no handle of this
// process can have.
void* handleOf(std::int64_t field);

// Whether off and len describe a block inside an array of `length` elements.
bool blockFits(std::int32_t off, std::int32_t len, std::int32_t length);

// The roots in the block that GetLogicalDriveStrings fills ("A:\\\0C:\\\0\0"), never read beyond
// `length` bytes: a string that lacks its terminator within the block ends the walk.
class RootStrings {
public:
    RootStrings(const char* block, std::size_t length) : block_(block), length_(length) {}
    // The next root, or null at the end.
    const char* next();

private:
    const char* block_;
    std::size_t length_;
    std::size_t offset_ = 0;
};

}  // namespace kvo::fsnative
