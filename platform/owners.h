// Owner types: one per kind of handle, so a release cannot be forgotten on any path.
#pragma once
#include "platform/win.h"

template <typename Traits>
class UniqueOwner {
public:
    typedef typename Traits::Type Type;
    UniqueOwner() : value_(Traits::invalid()) {}
    explicit UniqueOwner(Type value) : value_(value) {}
    ~UniqueOwner() { reset(); }
    UniqueOwner(UniqueOwner&& other) noexcept : value_(other.release()) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;

    Type get() const { return value_; }
    bool valid() const { return Traits::isValid(value_); }
    explicit operator bool() const { return valid(); }
    Type release() {
        Type v = value_;
        value_ = Traits::invalid();
        return v;
    }
    void reset(Type value = Traits::invalid()) {
        if (Traits::isValid(value_)) Traits::close(value_);
        value_ = value;
    }

private:
    Type value_;
};

// Kernel handles whose "none" is NULL (mutexes, events, threads, mappings). Some creation
// functions hand back INVALID_HANDLE_VALUE on failure too; neither is ever closed.
struct KernelHandleTraits {
    typedef HANDLE Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Type h) { CloseHandle(h); }
};
typedef UniqueOwner<KernelHandleTraits> UniqueHandle;

// File, device and pipe handles, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    typedef HANDLE Type;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Type h) { CloseHandle(h); }
};
typedef UniqueOwner<FileHandleTraits> UniqueFile;

// Disks and volumes opened through the system-call seam: they are closed through it too.
struct DeviceHandleTraits {
    typedef HANDLE Type;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Type h);
};
typedef UniqueOwner<DeviceHandleTraits> UniqueDevice;

// Device information sets, released through the seam.
struct DeviceSetTraits {
    typedef HDEVINFO Type;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Type h);
};
typedef UniqueOwner<DeviceSetTraits> UniqueDeviceSet;

// Registry keys handed out through the seam (a device's hardware key).
struct DeviceKeyTraits {
    typedef HKEY Type;
    static Type invalid() { return static_cast<HKEY>(INVALID_HANDLE_VALUE); }
    static bool isValid(Type h) { return h != static_cast<HKEY>(INVALID_HANDLE_VALUE) && h != nullptr; }
    static void close(Type h);
};
typedef UniqueOwner<DeviceKeyTraits> UniqueDeviceKey;

// Service control manager handles, through the seam.
struct ServiceHandleTraits {
    typedef SC_HANDLE Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type h) { return h != nullptr; }
    static void close(Type h);
};
typedef UniqueOwner<ServiceHandleTraits> UniqueServiceHandle;

// Blocks from LocalAlloc, and arrays the system allocates that way (CommandLineToArgvW).
struct LocalMemoryTraits {
    typedef HLOCAL Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type h) { return h != nullptr; }
    static void close(Type h) { LocalFree(h); }
};
typedef UniqueOwner<LocalMemoryTraits> UniqueLocal;

// Restores the process error mode when it goes out of scope.
class ScopedErrorMode {
public:
    explicit ScopedErrorMode(UINT mode) : previous_(SetErrorMode(mode)) {}
    ~ScopedErrorMode() { SetErrorMode(previous_); }
    ScopedErrorMode(const ScopedErrorMode&) = delete;
    ScopedErrorMode& operator=(const ScopedErrorMode&) = delete;

private:
    UINT previous_;
};

// A COM interface pointer, released once.
template <typename Interface>
class UniqueInterface {
public:
    UniqueInterface() = default;
    ~UniqueInterface() { reset(); }
    UniqueInterface(const UniqueInterface&) = delete;
    UniqueInterface& operator=(const UniqueInterface&) = delete;

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    // For the out-parameter of CoCreateInstance and QueryInterface.
    void** put() {
        reset();
        return reinterpret_cast<void**>(&pointer_);
    }
    void reset() {
        if (pointer_) pointer_->Release();
        pointer_ = nullptr;
    }

private:
    Interface* pointer_ = nullptr;
};
