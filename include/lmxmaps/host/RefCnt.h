#pragma once
// Intrusive, thread-safe reference counting.
//
// A RefCntObject starts with a count of zero; the first RefCntPtr that takes it raises the
// count to one, and the object deletes itself when the last RefCntPtr lets go. Objects are
// therefore always created on the heap and handed straight to a RefCntPtr (see MakeRefCnt).

#include <atomic>
#include <cstddef>
#include <functional>
#include <type_traits>
#include <utility>

class RefCntObject {
public:
    void AddRef() const noexcept { m_refCount.fetch_add(1, std::memory_order_relaxed); }

    void Release() const noexcept {
        if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }

    long GetRefCount() const noexcept { return m_refCount.load(std::memory_order_relaxed); }

protected:
    RefCntObject() noexcept = default;
    // A copy is a new object: it does not inherit the original's references.
    RefCntObject(const RefCntObject&) noexcept {}
    RefCntObject& operator=(const RefCntObject&) noexcept { return *this; }
    virtual ~RefCntObject() = default;

private:
    mutable std::atomic<long> m_refCount{0};
};

template <class T>
class RefCntPtr {
public:
    using element_type = T;

    RefCntPtr() noexcept = default;
    RefCntPtr(std::nullptr_t) noexcept {}
    explicit RefCntPtr(T* object) noexcept : m_object(object) { Acquire(); }
    RefCntPtr(const RefCntPtr& other) noexcept : m_object(other.m_object) { Acquire(); }
    RefCntPtr(RefCntPtr&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}

    template <class U>
    requires std::is_convertible_v<U*, T*> RefCntPtr(const RefCntPtr<U>& other)
    noexcept : m_object(other.get()) { Acquire(); }

    template <class U>
    requires std::is_convertible_v<U*, T*> RefCntPtr(RefCntPtr<U>&& other)
    noexcept : m_object(other.Detach()) {}

    ~RefCntPtr() { Drop(); }

    RefCntPtr& operator=(RefCntPtr other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }

    void reset() noexcept { RefCntPtr().swap(*this); }
    void swap(RefCntPtr& other) noexcept { std::swap(m_object, other.m_object); }

    T* get() const noexcept { return m_object; }
    T* operator->() const noexcept { return m_object; }
    T& operator*() const noexcept { return *m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }

    // Gives up ownership without releasing; the caller takes over the reference.
    T* Detach() noexcept { return std::exchange(m_object, nullptr); }

    template <class U>
    bool operator==(const RefCntPtr<U>& other) const noexcept {
        return m_object == other.get();
    }
    bool operator==(std::nullptr_t) const noexcept { return m_object == nullptr; }

private:
    void Acquire() const noexcept {
        if (m_object) {
            m_object->AddRef();
        }
    }
    void Drop() noexcept {
        if (m_object) {
            m_object->Release();
        }
    }

    T* m_object = nullptr;
};

template <class T, class... Args>
RefCntPtr<T> MakeRefCnt(Args&&... args) {
    return RefCntPtr<T>(new T(std::forward<Args>(args)...));
}

template <class T, class U>
RefCntPtr<T> RefCntStaticCast(const RefCntPtr<U>& from) noexcept {
    return RefCntPtr<T>(static_cast<T*>(from.get()));
}

template <class T, class U>
RefCntPtr<T> RefCntDynamicCast(const RefCntPtr<U>& from) noexcept {
    return RefCntPtr<T>(dynamic_cast<T*>(from.get()));
}

template <class T>
struct std::hash<RefCntPtr<T>> {
    std::size_t operator()(const RefCntPtr<T>& p) const noexcept {
        return std::hash<T*>()(p.get());
    }
};
