// Every slot of the JNI tables starts as a function that stops the process with the slot's name;
// the double then puts the operations it provides over them.
#include "jni_model.h"

#include <cstring>
#include <utility>

namespace kvojni {

namespace {

#include "jni_slot_names.inc"

constexpr std::size_t kNativeSlots = sizeof(JNINativeInterface_) / sizeof(void*);
constexpr std::size_t kInvokeSlots = sizeof(JNIInvokeInterface_) / sizeof(void*);
static_assert(kNativeSlots <= sizeof(kNativeSlotNames) / sizeof(kNativeSlotNames[0]),
              "jni.h has more JNIEnv slots than the double knows by name");
static_assert(kInvokeSlots <= sizeof(kInvokeSlotNames) / sizeof(kInvokeSlotNames[0]),
              "jni.h has more JavaVM slots than the double knows by name");

// Never returns, so the calling convention and the arguments the caller pushed do not matter.
template <std::size_t I>
void JNICALL unusedNativeSlot() {
    failLoudly(std::string("JNIEnv function ") + kNativeSlotNames[I] + " is not provided");
}

template <std::size_t I>
void JNICALL unusedInvokeSlot() {
    failLoudly(std::string("JavaVM function ") + kInvokeSlotNames[I] + " is not provided");
}

using Stub = void(JNICALL*)();

template <std::size_t... I>
void fillNative(void** slots, std::index_sequence<I...>) {
    const Stub stubs[] = {&unusedNativeSlot<I>...};
    std::memcpy(slots, stubs, sizeof(stubs));
}

template <std::size_t... I>
void fillInvoke(void** slots, std::index_sequence<I...>) {
    const Stub stubs[] = {&unusedInvokeSlot<I>...};
    std::memcpy(slots, stubs, sizeof(stubs));
}

}  // namespace

void fillUnusedNativeSlots(JNINativeInterface_& table) {
    fillNative(reinterpret_cast<void**>(&table), std::make_index_sequence<kNativeSlots>());
}

void fillUnusedInvokeSlots(JNIInvokeInterface_& table) {
    fillInvoke(reinterpret_cast<void**>(&table), std::make_index_sequence<kInvokeSlots>());
}

}  // namespace kvojni
