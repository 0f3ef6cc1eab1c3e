#pragma once
// Locks with scoped guards. A TRecursiveMutex may be taken again by the thread that holds it;
// AutoSynchronize names the operation that holds it, for diagnostics. TReadWriteLock lets many
// readers or one writer in.

#include <mutex>
#include <shared_mutex>

class TRecursiveMutex {
public:
    explicit TRecursiveMutex(int flags = 0) : m_flags(flags) {}
    TRecursiveMutex(const TRecursiveMutex&) = delete;
    TRecursiveMutex& operator=(const TRecursiveMutex&) = delete;

    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    bool try_lock() { return m_mutex.try_lock(); }
    int GetFlags() const { return m_flags; }

private:
    std::recursive_mutex m_mutex;
    int m_flags;
};

class AutoSynchronize {
public:
    // lockLevel documents where the lock stands in the lock order (higher is taken later).
    AutoSynchronize(TRecursiveMutex& mutex, const char* operationName, int lockLevel = 0)
        : m_lock(mutex), m_operationName(operationName), m_lockLevel(lockLevel) {}
    AutoSynchronize(const AutoSynchronize&) = delete;
    AutoSynchronize& operator=(const AutoSynchronize&) = delete;

    const char* GetOperationName() const { return m_operationName; }
    int GetLockLevel() const { return m_lockLevel; }

private:
    std::lock_guard<TRecursiveMutex> m_lock;
    const char* m_operationName;
    int m_lockLevel;
};

class TReadWriteLock {
public:
    TReadWriteLock() = default;
    TReadWriteLock(const TReadWriteLock&) = delete;
    TReadWriteLock& operator=(const TReadWriteLock&) = delete;

    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    void lock_shared() { m_mutex.lock_shared(); }
    void unlock_shared() { m_mutex.unlock_shared(); }

private:
    std::shared_mutex m_mutex;
};

using TReadGuard = std::shared_lock<TReadWriteLock>;
using TWriteGuard = std::unique_lock<TReadWriteLock>;
