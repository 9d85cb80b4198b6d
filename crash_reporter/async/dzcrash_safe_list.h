#pragma once
// A doubly linked list that crash-time code reads while ordinary code changes it. Readers never
// block, allocate or free: they announce themselves with `set_reading(true)`, walk with `next`, and
// end with `set_reading(false)`. Writers (ordinary code only) take a spin lock among themselves.
//
// A node is published only once it is complete: filled, then a full fence, then linked with a
// compare-and-swap, so a reader never sees half a node. A removed node keeps its link to the node
// that followed it, so a reader standing on it goes on with the rest of the list; it waits on a
// free stack with a link of its own, and is reused or freed, together with its value's release,
// only by a writer that finds no reader at all. A reader that started after the removal can no
// longer reach it, and one that started before has announced itself.
#include <atomic>
#include <cassert>
#include <new>
#include <thread>
#include <type_traits>

template <class Value>
class dzcrash_safe_list {
    static_assert(std::is_trivially_copyable_v<Value>, "values are copied into nodes as plain bytes");

  public:
    struct node {
        Value value;
        node* previous;  // writers only
        std::atomic<node*> next;
        node* next_free;  // the free stack's own link, so `next` stays valid for readers
        bool listed;
    };
    // Called on a value when its node leaves for good: freed, or reused for another value.
    using release_function = void (*)(Value& value);

    explicit dzcrash_safe_list(release_function release = nullptr) : release_(release) {}
    // No reader may be active any more.
    ~dzcrash_safe_list();
    dzcrash_safe_list(const dzcrash_safe_list&) = delete;
    dzcrash_safe_list& operator=(const dzcrash_safe_list&) = delete;

    // Writers, ordinary code only. The node now holding the value, null when no memory is left.
    node* append(const Value& value);
    node* prepend(const Value& value);
    // Unlinks a node of this list; a node removed already is left alone.
    void remove(node* removed);
    // Frees the removed nodes that wait for readers, when none is left. For a writer that had to
    // read the list itself to find what it removed, and so could not free at the removal.
    void free_unread();

    // Readers, async-signal-safe.
    void set_reading(bool reading) noexcept { readers_.fetch_add(reading ? 1 : -1); }
    // The node after `previous`, or the head when it is null; null at the end.
    node* next(const node* previous) const noexcept {
        return previous ? previous->next.load() : head_.load();
    }

  private:
    static void full_fence();
    void lock();
    void unlock() { lock_.clear(std::memory_order_release); }
    node* take_node_locked();
    void release_node(node* released);
    void free_nodes_locked();

    const release_function release_;
    std::atomic_flag lock_ = ATOMIC_FLAG_INIT;
    std::atomic<int> readers_{0};
    std::atomic<node*> head_{nullptr};
    node* tail_ = nullptr;
    node* free_ = nullptr;
};

template <class Value>
dzcrash_safe_list<Value>::~dzcrash_safe_list() {
    for (node* current = head_.load(); current;) {
        node* following = current->next.load();
        release_node(current);
        delete current;
        current = following;
    }
    while (free_) {
        node* freed = free_;
        free_ = freed->next_free;
        release_node(freed);
        delete freed;
    }
}

template <class Value>
typename dzcrash_safe_list<Value>::node* dzcrash_safe_list<Value>::append(const Value& value) {
    lock();
    node* added = take_node_locked();
    if (!added) {
        unlock();
        return nullptr;
    }
    added->value = value;
    added->previous = tail_;
    added->next.store(nullptr, std::memory_order_relaxed);
    added->next_free = nullptr;
    added->listed = true;
    full_fence();
    node* expected = nullptr;
    [[maybe_unused]] const bool linked = tail_ ? tail_->next.compare_exchange_strong(expected, added)
                                               : head_.compare_exchange_strong(expected, added);
    assert(linked && "writers hold the lock, so the end of the list cannot move");
    tail_ = added;
    free_nodes_locked();
    unlock();
    return added;
}

template <class Value>
typename dzcrash_safe_list<Value>::node* dzcrash_safe_list<Value>::prepend(const Value& value) {
    lock();
    node* added = take_node_locked();
    if (!added) {
        unlock();
        return nullptr;
    }
    node* first = head_.load();
    added->value = value;
    added->previous = nullptr;
    added->next.store(first, std::memory_order_relaxed);
    added->next_free = nullptr;
    added->listed = true;
    full_fence();
    [[maybe_unused]] const bool linked = head_.compare_exchange_strong(first, added);
    assert(linked && "writers hold the lock, so the head cannot move");
    if (first) {
        first->previous = added;
    } else {
        tail_ = added;
    }
    free_nodes_locked();
    unlock();
    return added;
}

template <class Value>
void dzcrash_safe_list<Value>::remove(node* removed) {
    lock();
    if (removed && removed->listed) {
        node* before = removed->previous;
        node* after = removed->next.load();
        if (before) {
            before->next.store(after);
        } else {
            head_.store(after);
        }
        if (after) {
            after->previous = before;
        } else {
            tail_ = before;
        }
        removed->previous = nullptr;
        removed->listed = false;
        removed->next_free = free_;
        free_ = removed;
    }
    free_nodes_locked();
    unlock();
}

template <class Value>
void dzcrash_safe_list<Value>::free_unread() {
    lock();
    free_nodes_locked();
    unlock();
}

// The thread sanitizer does not model a standalone fence (and warns where one is compiled); the
// sequentially consistent compare-and-swap that publishes the node orders its stores by itself.
template <class Value>
void dzcrash_safe_list<Value>::full_fence() {
#if !defined(__SANITIZE_THREAD__)
    std::atomic_thread_fence(std::memory_order_seq_cst);
#endif
}

template <class Value>
void dzcrash_safe_list<Value>::lock() {
    while (lock_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}

// Every unlinking store came before this load of the reader count, so a count of 0 means that no
// reader can still reach a node of the free stack.
template <class Value>
typename dzcrash_safe_list<Value>::node* dzcrash_safe_list<Value>::take_node_locked() {
    if (free_ && readers_.load() == 0) {
        node* reused = free_;
        free_ = reused->next_free;
        release_node(reused);
        return reused;
    }
    return new (std::nothrow) node();
}

template <class Value>
void dzcrash_safe_list<Value>::free_nodes_locked() {
    if (readers_.load() != 0) return;
    while (free_) {
        node* freed = free_;
        free_ = freed->next_free;
        release_node(freed);
        delete freed;
    }
}

template <class Value>
void dzcrash_safe_list<Value>::release_node(node* released) {
    if (release_) release_(released->value);
}
