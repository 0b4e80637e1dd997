// Linking and sorting shared by element lists and pointer lists.
//
// Both families link nodes that start with `prev` and `next`; they differ
// in how a header names its ends and what the comparison sees. A traits
// type supplies that:
//   using Node; using Header;
//   static Node *first(const Header *);  static void set_first(Header *, Node *);
//   static Node *last(const Header *);   static void set_last(Header *, Node *);
//   static const void *key(const Node *);   // what the comparison receives
#pragma once

#include <cstdint>

#include "dyx_list.h"

namespace dyx_list_detail {

template <typename T>
struct Links {
    using Node = typename T::Node;
    using Header = typename T::Header;

    static void prepend(Header *list, Node *node) {
        Node *old_first = T::first(list);
        if (old_first == nullptr) {
            T::set_last(list, node);
        } else {
            node->next = old_first;
            old_first->prev = node;
        }
        T::set_first(list, node);
    }

    static void append(Header *list, Node *node) {
        Node *old_last = T::last(list);
        if (old_last == nullptr) {
            T::set_first(list, node);
        } else {
            node->prev = old_last;
            old_last->next = node;
        }
        T::set_last(list, node);
    }

    static void insert_after(Header *list, Node *reference, Node *node) {
        node->next = reference->next;
        reference->next = node;
        node->prev = reference;
        if (node->next != nullptr) node->next->prev = node;
        if (T::last(list) == reference) T::set_last(list, node);
    }

    static void insert_before(Header *list, Node *reference, Node *node) {
        node->prev = reference->prev;
        reference->prev = node;
        node->next = reference;
        if (node->prev != nullptr) node->prev->next = node;
        if (T::first(list) == reference) T::set_first(list, node);
    }

    static void remove(Header *list, Node *node) {
        if (node->prev != nullptr) node->prev->next = node->next;
        if (node->next != nullptr) node->next->prev = node->prev;
        if (T::first(list) == node) T::set_first(list, node->next);
        if (T::last(list) == node) T::set_last(list, node->prev);
        node->prev = nullptr;
        node->next = nullptr;
    }

    static Node *pop(Header *list) {
        Node *node = T::first(list);
        if (node != nullptr) remove(list, node);
        return node;
    }

    static void concat(Header *list, Header *other) {
        Node *other_first = T::first(other);
        if (list == other || other_first == nullptr) return;
        Node *last = T::last(list);
        if (last == nullptr) {
            T::set_first(list, other_first);
        } else {
            last->next = other_first;
            other_first->prev = last;
        }
        T::set_last(list, T::last(other));
        T::set_first(other, nullptr);
        T::set_last(other, nullptr);
    }

    static int32_t length(const Header *list) {
        int32_t count = 0;
        for (const Node *node = T::first(list); node != nullptr; node = node->next) ++count;
        return count;
    }

    // Bottom-up merge sort on the next links: each pass merges neighbouring
    // runs of up to k nodes; a pass with at most one merge leaves the list
    // sorted. Ties take the first run's node, so the sort is stable.
    static void sort(Header *list, dyx_list_compare compare) {
        Node *head = T::first(list);
        if (head == nullptr || compare == nullptr) return;
        for (int64_t k = 1;; k *= 2) {
            Node *left = head;
            Node *tail = nullptr;
            head = nullptr;
            int64_t merges = 0;
            while (left != nullptr) {
                ++merges;
                Node *right = left;
                int64_t left_size = 0;
                while (left_size < k && right != nullptr) {
                    ++left_size;
                    right = right->next;
                }
                int64_t right_size = k;
                while (left_size > 0 || (right_size > 0 && right != nullptr)) {
                    Node *taken;
                    if (left_size == 0 ||
                        (right_size > 0 && right != nullptr && compare(T::key(left), T::key(right)) > 0)) {
                        taken = right;
                        right = right->next;
                        --right_size;
                    } else {
                        taken = left;
                        left = left->next;
                        --left_size;
                    }
                    if (tail == nullptr) {
                        head = taken;
                    } else {
                        tail->next = taken;
                    }
                    taken->prev = tail;
                    tail = taken;
                }
                left = right;
            }
            tail->next = nullptr;
            if (merges <= 1) {
                T::set_first(list, head);
                T::set_last(list, tail);
                return;
            }
        }
    }
};

}  // namespace dyx_list_detail
