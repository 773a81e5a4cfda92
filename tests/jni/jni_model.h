// The object model behind the JNI test double (internal to tests/jni).
#pragma once

#include "jni_double.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>

namespace kvojni {

struct ClassObj;
class VmImpl;

enum class Kind { Class, Instance, String, ObjectArray, ByteArray };

struct Object {
    Object(Kind k, ClassObj* c) : kind(k), cls(c) {}
    virtual ~Object() = default;
    Kind kind;
    ClassObj* cls;
};

union Slot {
    jint i;
    jlong j;
    jchar c;
    jboolean z;
    jbyte b;
    jshort s;
    jfloat f;
    jdouble d;
    Object* l;
};

struct FieldInfo {
    std::string name, signature;
    bool isStatic = false;
    ClassObj* owner = nullptr;
    Slot staticValue{};
};

struct MethodInfo {
    std::string name, signature;
    ClassObj* owner = nullptr;
    StaticMethod body;
};

struct ClassObj : Object {
    ClassObj(ClassObj* classClass, std::string n, ClassObj* s)
        : Object(Kind::Class, classClass), name(std::move(n)), super(s) {}
    std::string name;  // slash form
    ClassObj* super;
    bool hidden = false;
    std::vector<std::unique_ptr<FieldInfo>> fields;
    std::vector<std::unique_ptr<MethodInfo>> methods;
    std::string dottedName() const;
    bool isSubclassOf(const ClassObj* other) const;
};

struct InstanceObj : Object {
    explicit InstanceObj(ClassObj* c) : Object(Kind::Instance, c) {}
    std::map<const FieldInfo*, Slot> fields;
    // Throwables only.
    bool hasMessage = false;
    std::string message;  // modified UTF-8
    std::vector<std::string> frames;
};

struct StringObj : Object {
    StringObj(ClassObj* c, std::string m, std::u16string u)
        : Object(Kind::String, c), mutf8(std::move(m)), utf16(std::move(u)) {}
    std::string mutf8;
    std::u16string utf16;
};

struct ObjectArrayObj : Object {
    ObjectArrayObj(ClassObj* arrayClass, ClassObj* e, jsize n)
        : Object(Kind::ObjectArray, arrayClass), elementClass(e), elements(static_cast<size_t>(n)) {}
    ClassObj* elementClass;
    std::vector<Object*> elements;
};

struct ByteArrayObj : Object {
    ByteArrayObj(ClassObj* arrayClass, jsize n)
        : Object(Kind::ByteArray, arrayClass), bytes(static_cast<size_t>(n)) {}
    std::vector<jbyte> bytes;
};

enum class RefKind { Local, Global };

struct Ref {
    Object* target;
    RefKind kind;
    bool live;
    std::thread::id owner;  // local references belong to one thread
};

constexpr unsigned kEnvMagic = 0x4B564F45;  // "KVOE"

struct ThreadEnv : JNIEnv_ {
    unsigned magic = kEnvMagic;
    VmImpl* vm = nullptr;
    std::thread::id thread;
    std::string name;
    bool daemon = false;
    bool attached = true;
    Object* pending = nullptr;
    std::vector<std::string> callStack;  // dotted "pkg.Class.method", outermost first
};

struct VmShell : JavaVM_ {
    unsigned magic = kEnvMagic;
    VmImpl* vm = nullptr;
};

// Buffers handed out by Get*Chars / Get*ArrayElements until released.
struct Pin {
    Object* source;
    enum { Utf8, Utf16, Bytes } type;
};

class VmImpl {
public:
    VmImpl();
    ~VmImpl();

    Vm* owner = nullptr;
    std::recursive_mutex mutex;
    std::condition_variable_any threadsChanged;
    VmShell shell;
    bool destroyed = false;
    bool strictExceptions = true;
    bool describeToStandardHandle = false;
    std::function<void(jint)> destroyObserver;

    std::vector<std::unique_ptr<Object>> heap;
    std::deque<Ref> refs;
    std::map<std::string, ClassObj*> classes;
    ClassObj* classClass = nullptr;
    ClassObj* stringClass = nullptr;
    ClassObj* objectClass = nullptr;
    ClassObj* throwableClass = nullptr;
    std::map<std::string, ClassObj*> arrayClasses;

    std::vector<std::unique_ptr<ThreadEnv>> envs;       // kept after detaching, so stale use is caught
    std::vector<std::pair<std::thread, bool>> threads;  // started by startThread; bool: daemon
    std::size_t startingNonDaemon = 0;                  // started but not attached yet
    std::set<const void*> ids;                          // the method and field IDs handed out
    std::set<const Ref*> knownRefs;
    std::size_t liveLocals = 0;

    std::map<void*, Pin> pins;
    std::size_t allocationCount = 0;
    std::size_t failAtAllocation = 0;  // 0: none
    std::map<std::string, bool> failingUtf8Inputs;
    std::size_t malformedStrings = 0;

    // All of the following expect the mutex to be held.
    ClassObj* defineClass(const std::string& name, ClassObj* super);
    ClassObj* findClass(const std::string& name);  // including hidden ones; null when unknown
    ClassObj* requireClass(const std::string& name, const char* what);
    ClassObj* arrayClass(const std::string& descriptor);
    template <class T, class... A>
    T* make(A&&... args) {
        heap.push_back(std::make_unique<T>(std::forward<A>(args)...));
        return static_cast<T*>(heap.back().get());
    }
    StringObj* makeString(const std::string& mutf8);
    StringObj* makeString(const std::u16string& utf16);
    InstanceObj* makeThrowable(ClassObj* cls, const std::string* message, std::vector<std::string> frames);

    jobject newLocal(ThreadEnv* env, Object* obj);  // null for a null object
    jobject newGlobal(Object* obj);
    Ref* refOf(jobject ref, const char* what);                     // checks a live reference of this VM
    Object* deref(ThreadEnv* env, jobject ref, const char* what);  // null for null
    ThreadEnv* currentEnv();                                       // null when not attached
    ThreadEnv* attach(const std::string& name, bool daemon);
    void detach(ThreadEnv* env);
    std::size_t otherNonDaemonThreads(std::thread::id self);

    // Counts an allocating operation; true when it is to fail (an OutOfMemoryError is then raised).
    bool allocationFails(ThreadEnv* env);
    void raise(ThreadEnv* env, const std::string& cls, const std::string& message);
    std::vector<std::string> currentFrames(ThreadEnv* env);
    void describe(ThreadEnv* env, InstanceObj* exception);

    FieldInfo* findField(ClassObj* cls, const std::string& name, const std::string& sig, bool isStatic);
    FieldInfo* fieldByName(ClassObj* cls, const std::string& name, bool isStatic, const char* what);
    MethodInfo* findMethod(ClassObj* cls, const std::string& name, const std::string& sig);
    Slot& instanceSlot(Object* obj, FieldInfo* field, char type, const char* what);
    Slot& staticSlot(FieldInfo* field, char type, const char* what);
};

// The function tables, shared by every VM of the process.
const JNINativeInterface_* nativeTable();
const JNIInvokeInterface_* invokeTable();
// Fills every slot of a table with a function that stops the process naming the slot.
void fillUnusedNativeSlots(JNINativeInterface_& table);
void fillUnusedInvokeSlots(JNIInvokeInterface_& table);

// Checks an env pointer made by the double and used on its own thread.
ThreadEnv* checkedEnv(JNIEnv* env, const char* what);
VmImpl* checkedVm(JavaVM* vm, const char* what);

}  // namespace kvojni
