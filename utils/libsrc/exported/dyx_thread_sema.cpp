// Counting semaphore over a mutex and a condition variable.
#include "dyx_malloc.h"
#include "dyx_status.h"
#include "dyx_thread.h"

namespace {

int fail() {
    dyx_stop_here();
    return DYX_THREAD_FAILED;
}

int check(int error) { return error == 0 ? 0 : fail(); }

}  // namespace

extern "C" {

int dyx_thread_sema_init(dyx_thread_sema_t *sema, int32_t value) {
    if (sema == nullptr) return fail();
    sema->value = value;
    sema->waiters = 0;
    if (pthread_mutex_init(&sema->mutex, nullptr) != 0) return fail();
    if (pthread_cond_init(&sema->cond, nullptr) != 0) {
        pthread_mutex_destroy(&sema->mutex);
        return fail();
    }
    return DYX_THREAD_OK;
}

int dyx_thread_sema_wait(dyx_thread_sema_t *sema) {
    if (sema == nullptr) return fail();
    if (pthread_mutex_lock(&sema->mutex) != 0) return fail();
    int error = 0;
    if (--sema->value < 0) {
        ++sema->waiters;
        while (sema->value < 0 && error == 0) error = pthread_cond_wait(&sema->cond, &sema->mutex);
        --sema->waiters;
        // Waiters release one another once the value is back at 0.
        if (error == 0 && sema->value >= 0 && sema->waiters > 0) error = pthread_cond_signal(&sema->cond);
    }
    pthread_mutex_unlock(&sema->mutex);
    return check(error);
}

int dyx_thread_sema_release(dyx_thread_sema_t *sema) {
    if (sema == nullptr) return fail();
    if (pthread_mutex_lock(&sema->mutex) != 0) return fail();
    int error = 0;
    if (++sema->value == 0) error = pthread_cond_signal(&sema->cond);
    pthread_mutex_unlock(&sema->mutex);
    return check(error);
}

int dyx_thread_sema_reset(dyx_thread_sema_t *sema, int32_t value) {
    if (sema == nullptr) return fail();
    sema->value = value;
    sema->waiters = 0;
    return DYX_THREAD_OK;
}

int dyx_thread_sema_destroy(dyx_thread_sema_t *sema) {
    if (sema == nullptr) return fail();
    const int cond_error = pthread_cond_destroy(&sema->cond);
    const int mutex_error = pthread_mutex_destroy(&sema->mutex);
    return check(cond_error != 0 ? cond_error : mutex_error);
}

}  // extern "C"
