#pragma once

#include <new>
#include <utility>

// Holds an object that is built on first use and never destroyed. Worker
// threads are detached and may still run while the process exits; anything
// they can reach must outlive them, so it must not be torn down by exit().
template <typename T>
class NoDestructor {
public:
    template <typename... Args>
    explicit NoDestructor(Args&&... args) {
        new (storage_) T(std::forward<Args>(args)...);
    }
    NoDestructor(const NoDestructor&) = delete;
    NoDestructor& operator=(const NoDestructor&) = delete;
    ~NoDestructor() = default;

    T& get() { return *std::launder(reinterpret_cast<T*>(storage_)); }
    T* operator->() { return &get(); }
    T& operator*() { return get(); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
};
