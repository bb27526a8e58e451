#pragma once
// RefPtr<T>: holds one reference to a RefObj.
#include <utility>

template <class T>
class RefPtr {
public:
    RefPtr() noexcept = default;
    RefPtr(T* p) noexcept : p_(p) {
        if (p_) p_->AddRef();
    }
    RefPtr(const RefPtr& other) noexcept : RefPtr(other.p_) {}
    RefPtr(RefPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~RefPtr() {
        if (p_) p_->Release();
    }

    RefPtr& operator=(T* p) noexcept {
        if (p == p_) return *this;
        T* old = std::exchange(p_, p);
        if (p_) p_->AddRef();
        if (old) old->Release();
        return *this;
    }
    RefPtr& operator=(const RefPtr& other) noexcept { return *this = other.p_; }
    RefPtr& operator=(RefPtr&& other) noexcept {
        if (this != &other) {
            T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            if (old) old->Release();
        }
        return *this;
    }

    T* Get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};
