// Owning wrappers for platform resources: one per kind, used everywhere the
// code is free to choose its field types.
#ifndef QUILLON_RAII_H
#define QUILLON_RAII_H

#include <windows.h>
#include <objbase.h>
#include <utility>

// Returns the HRESULT of an expression from the enclosing function when it failed.
#define RETURN_IF_FAILED(expr)                \
    do {                                      \
        const HRESULT hrChecked_ = (expr);    \
        if (FAILED(hrChecked_)) return hrChecked_; \
    } while (0)

// A COM interface pointer that holds one reference.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    // Adopts a reference the caller already owns.
    explicit ComPtr(T* adopted) : m_Ptr(adopted) {}
    ComPtr(const ComPtr& other) : m_Ptr(other.m_Ptr) { if (m_Ptr) m_Ptr->AddRef(); }
    ComPtr(ComPtr&& other) noexcept : m_Ptr(other.m_Ptr) { other.m_Ptr = nullptr; }
    ~ComPtr() { reset(); }

    ComPtr& operator=(ComPtr other) noexcept { std::swap(m_Ptr, other.m_Ptr); return *this; }

    // Takes an additional reference on a borrowed pointer.
    static ComPtr share(T* borrowed) { if (borrowed) borrowed->AddRef(); return ComPtr(borrowed); }

    T* get() const { return m_Ptr; }
    T* operator->() const { return m_Ptr; }
    explicit operator bool() const { return m_Ptr != nullptr; }

    // Releases what is held and returns the slot for an out-parameter.
    T** put() { reset(); return &m_Ptr; }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void reset(T* adopted = nullptr) {
        T* old = m_Ptr;
        m_Ptr = adopted;
        if (old) old->Release();
    }
    // Gives the reference to the caller.
    T* detach() { T* p = m_Ptr; m_Ptr = nullptr; return p; }

    template <class U>
    HRESULT queryInto(REFIID iid, ComPtr<U>& out) const {
        if (!m_Ptr) return E_POINTER;
        return m_Ptr->QueryInterface(iid, out.putVoid());
    }

private:
    T* m_Ptr = nullptr;
};

// A kernel handle (event, thread, file) closed with CloseHandle.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : m_Handle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : m_Handle(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept { reset(other.release()); return *this; }
    ~UniqueHandle() { reset(); }

    HANDLE get() const { return m_Handle; }
    explicit operator bool() const { return m_Handle != nullptr; }
    void reset(HANDLE h = nullptr) {
        HANDLE old = m_Handle;
        m_Handle = (h == INVALID_HANDLE_VALUE) ? nullptr : h;
        if (old) CloseHandle(old);
    }
    HANDLE release() { HANDLE h = m_Handle; m_Handle = nullptr; return h; }

private:
    HANDLE m_Handle = nullptr;
};

// A block of COM task memory, freed with CoTaskMemFree.
template <class T>
class TaskMemory {
public:
    TaskMemory() = default;
    explicit TaskMemory(T* adopted) : m_Ptr(adopted) {}
    TaskMemory(const TaskMemory&) = delete;
    TaskMemory& operator=(const TaskMemory&) = delete;
    TaskMemory(TaskMemory&& other) noexcept : m_Ptr(other.release()) {}
    ~TaskMemory() { reset(); }

    static TaskMemory allocate(size_t bytes) { return TaskMemory(static_cast<T*>(CoTaskMemAlloc(bytes))); }

    T* get() const { return m_Ptr; }
    T* operator->() const { return m_Ptr; }
    explicit operator bool() const { return m_Ptr != nullptr; }
    T** put() { reset(); return &m_Ptr; }
    void reset(T* p = nullptr) { T* old = m_Ptr; m_Ptr = p; if (old) CoTaskMemFree(old); }
    T* release() { T* p = m_Ptr; m_Ptr = nullptr; return p; }

private:
    T* m_Ptr = nullptr;
};

// A loaded module (DLL), freed with FreeLibrary.
class UniqueLibrary {
  public:
    UniqueLibrary() = default;
    explicit UniqueLibrary(HMODULE module) : m_Module(module) {}
    UniqueLibrary(const UniqueLibrary&) = delete;
    UniqueLibrary& operator=(const UniqueLibrary&) = delete;
    ~UniqueLibrary()
    {
        if (m_Module) FreeLibrary(m_Module);
    }

    HMODULE get() const { return m_Module; }
    explicit operator bool() const { return m_Module != nullptr; }
    // The address of an export, as the function type the caller names.
    template <class Function> Function find(const char* name) const
    {
        return m_Module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(m_Module, name)))
                        : nullptr;
    }

  private:
    HMODULE m_Module = nullptr;
};

#endif
