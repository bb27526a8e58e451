#pragma once
// Lst<T>: a doubly linked list whose nodes come from the COM task allocator.
// Used as Lst<CString> for lists of names.
#include <objbase.h>

#include <cstdint>
#include <new>
#include <utility>

#include "common/HResultError.h"

template <class T>
class Lst {
public:
    struct Node {
        T value;
        Node* next;
        Node* prev;
    };

    Lst() noexcept = default;
    Lst(const Lst&) = delete;
    Lst& operator=(const Lst&) = delete;
    virtual ~Lst() {
        while (head_) {
            Node* node = head_;
            head_ = node->next;
            --count_;
            node->~Node();
            CoTaskMemFree(node);
        }
        tail_ = nullptr;
    }

    // Appends a copy of value. When the task allocator has no block, raises
    // E_OUTOFMEMORY and leaves the list as it was.
    Node* AddTail(const T& value) {
        void* block = CoTaskMemAlloc(sizeof(Node));
        if (!block) ThrowHResult(E_OUTOFMEMORY);
        Node* node;
        try {
            node = new (block) Node{value, nullptr, tail_};
        } catch (...) {
            CoTaskMemFree(block);
            throw;
        }
        if (tail_) tail_->next = node;
        tail_ = node;
        if (!head_) head_ = node;
        ++count_;
        return node;
    }

    Node* Head() const noexcept { return head_; }
    Node* Tail() const noexcept { return tail_; }
    std::int32_t Count() const noexcept { return count_; }

private:
    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    std::int32_t count_ = 0;
};
