/* Per-object locks and interpreter-lock guards for orvo.image and
 * orvo.movie.
 *
 * The module releases the interpreter's lock (the GIL) while it decodes,
 * encodes, reads or writes files and touches pixels, so two Python threads
 * may reach the same object at once. Each image and movie therefore carries
 * an ObjectLock, and every method and attribute access holds it through an
 * ObjectLockGuard: a second thread waits, with the GIL released, until the
 * first has finished, and never sees a half-changed object.
 *
 * The lock is recursive per thread: a progress callback that a movie
 * operation calls (with the GIL re-taken through GilAcquire) may use that
 * same movie again from the same thread without deadlock.
 *
 * Lock order, always: the object lock first, then the GIL. A thread that
 * holds the GIL never blocks on an object lock without releasing the GIL
 * (the guard does that), and a thread holding object locks may wait for the
 * GIL. Two objects are taken in address order (the two-lock guard).
 *
 * Typical method:
 *
 *     ObjectLockGuard locked(self->lock);    // GIL held on entry
 *     ... read the arguments (Python API) ...
 *     {
 *         GilRelease released;               // no Python API in here
 *         status = dyx_image_scale(...);
 *     }
 *     ... build the result (Python API) ...
 */
#ifndef ORVO_PY_OBJECT_LOCK_H
#define ORVO_PY_OBJECT_LOCK_H

// Python.h comes first, as the interpreter requires.
#include "py_compat.h"
// clang-format off
#include <pthread.h>

#include "py_threads.h"
// clang-format on

namespace orvo {

/* The lock embedded in each image and movie object. Made ready by
 * object_lock_init when the object is allocated, before any other thread
 * can see it; object_lock_destroy in the destructor. */
struct ObjectLock {
    pthread_mutex_t mutex;  // recursive
};

void object_lock_init(ObjectLock *lock);
void object_lock_destroy(ObjectLock *lock);

/* Holds one object's lock (or two, taken in address order; the same lock
 * given twice is taken once) from construction to destruction. Construct
 * with the GIL held: a free lock, or one this thread already holds, is
 * taken at once; otherwise the GIL is released while waiting and re-taken
 * afterwards. The destructor only unlocks and may run with or without the
 * GIL. Not copyable. */
class ObjectLockGuard {
public:
    explicit ObjectLockGuard(ObjectLock &lock);
    ObjectLockGuard(ObjectLock &first, ObjectLock &second);
    ~ObjectLockGuard();
    ObjectLockGuard(const ObjectLockGuard &) = delete;
    ObjectLockGuard &operator=(const ObjectLockGuard &) = delete;

private:
    pthread_mutex_t *held_[2];
};

/* Releases the GIL from construction to destruction (the scoped form of
 * Py_BEGIN_ALLOW_THREADS / Py_END_ALLOW_THREADS). No Python API may be
 * used while it lives, except inside a GilAcquire. */
class GilRelease {
public:
    GilRelease() : state_(PyEval_SaveThread()) {}
    ~GilRelease() { PyEval_RestoreThread(state_); }
    GilRelease(const GilRelease &) = delete;
    GilRelease &operator=(const GilRelease &) = delete;

private:
    PyThreadState *state_;
};

/* Re-takes the GIL from code that runs with it released (a progress
 * callback called from inside a GilRelease, or a library worker thread)
 * and releases it again at destruction. */
class GilAcquire {
public:
    GilAcquire() : state_(PyGILState_Ensure()) {}
    ~GilAcquire() { PyGILState_Release(state_); }
    GilAcquire(const GilAcquire &) = delete;
    GilAcquire &operator=(const GilAcquire &) = delete;

private:
    PyGILState_STATE state_;
};

/* Method-table adapters that apply orvo.threads and then hold the object's
 * lock for the whole call, given the function that finds an object's lock:
 *
 *     {"flip", locked_method<image_lock, image_flip>, METH_VARARGS, ...}
 *
 * A method that also works on a second object of the same kind takes both
 * locks itself, through the two-lock guard, once it has its arguments. */
template <ObjectLock &(*lock_of)(PyObject *), PyObject *(*method)(PyObject *, PyObject *)>
PyObject *locked_method(PyObject *self, PyObject *args) {
    apply_thread_setting();
    ObjectLockGuard locked(lock_of(self));
    return method(self, args);
}

template <ObjectLock &(*lock_of)(PyObject *), PyObject *(*method)(PyObject *, PyObject *, PyObject *)>
PyObject *locked_method_kw(PyObject *self, PyObject *args, PyObject *kwargs) {
    apply_thread_setting();
    ObjectLockGuard locked(lock_of(self));
    return method(self, args, kwargs);
}

}  // namespace orvo

#endif
