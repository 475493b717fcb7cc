#pragma once
// One process-wide instance of T, created on first use under a mutex and kept until the process
// ends. T's default constructor makes the "empty" instance: it must not throw, and it is what
// both operations fall back to when constructing the real instance throws.

#include "support/Threads.h"

#include <type_traits>
#include <utility>

namespace vantor {

template <class T>
class MutexedSingleton
{
public:
    // The instance, constructed from `args` by the first call of either operation; later calls
    // return it and ignore their arguments. Never null.
    template <class... Args>
    static T* createInstance(Args&&... args)
    {
        return obtain([&]() { return new T(std::forward<Args>(args)...); });
    }
    // The same, but a missing instance is created empty.
    static T* getInstance()
    {
        return obtain([]() { return new T(); });
    }
    // The instance when one exists; null before the first creation.
    static T* peekInstance() { return instance; }

protected:
    MutexedSingleton() = default;
    virtual ~MutexedSingleton() = default;

private:
    static Mutex& mutex()
    {
        static Mutex m("", false);
        return m;
    }

    // An empty instance in static storage: needs no allocation, so it is always there.
    static T* emptyFallback()
    {
        static_assert(std::is_nothrow_default_constructible_v<T>);
        static T empty;
        return &empty;
    }

    template <class Make>
    static T* obtain(Make make)
    {
        // Creation goes ahead without the lock when the lock cannot be taken.
        const bool locked = mutex().lock();
        T* result = instance;
        if (!result) {
            if (creating) {
                // Only reachable without the lock while another caller builds the instance.
                result = emptyFallback();
            } else {
                creating = true;
                try {
                    result = make();
                } catch (...) {
                    // A half-built instance is freed by the new-expression; keep an empty one.
                    try {
                        result = new T();
                    } catch (...) {
                        result = emptyFallback();
                    }
                }
                instance = result;
                creating = false;
            }
        }
        if (locked)
            mutex().unlock();
        return result;
    }

    static inline T* instance = nullptr;
    static inline bool creating = false;
};

}  // namespace vantor
