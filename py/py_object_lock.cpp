// Per-object recursive locks taken with the interpreter's lock released
// while waiting.
#include "py_object_lock.h"

#include <functional>
#include <utility>

namespace orvo {

void object_lock_init(ObjectLock *lock) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&lock->mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

void object_lock_destroy(ObjectLock *lock) { pthread_mutex_destroy(&lock->mutex); }

namespace {

// Takes the mutex; only when another thread holds it does this thread let
// go of the GIL, so that the holder (which may need the GIL for a progress
// callback) can finish.
void lock_releasing_gil(pthread_mutex_t *mutex) {
    if (pthread_mutex_trylock(mutex) == 0) return;
    GilRelease released;
    pthread_mutex_lock(mutex);
}

}  // namespace

ObjectLockGuard::ObjectLockGuard(ObjectLock &lock) : held_{&lock.mutex, nullptr} {
    lock_releasing_gil(held_[0]);
}

ObjectLockGuard::ObjectLockGuard(ObjectLock &first, ObjectLock &second) : held_{&first.mutex, &second.mutex} {
    if (held_[0] == held_[1]) {
        held_[1] = nullptr;
    } else if (std::less<pthread_mutex_t *>()(held_[1], held_[0])) {
        std::swap(held_[0], held_[1]);
    }
    lock_releasing_gil(held_[0]);
    if (held_[1] != nullptr) lock_releasing_gil(held_[1]);
}

ObjectLockGuard::~ObjectLockGuard() {
    if (held_[1] != nullptr) pthread_mutex_unlock(held_[1]);
    pthread_mutex_unlock(held_[0]);
}

}  // namespace orvo
