// Reusable barrier and the global reductions built on pairs of barriers.
#include <cstdint>
#include <cstring>

#include "dyx_malloc.h"
#include "dyx_status.h"
#include "dyx_thread.h"

namespace {

// Keeps the thread from being cancelled while it waits on a barrier, so
// that it never leaves with the barrier's mutex held.
class NoCancellation {
public:
    NoCancellation() { pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous_); }
    ~NoCancellation() { pthread_setcancelstate(previous_, nullptr); }
    NoCancellation(const NoCancellation &) = delete;
    NoCancellation &operator=(const NoCancellation &) = delete;

private:
    int previous_ = PTHREAD_CANCEL_ENABLE;
};

// The barrier proper. `on_last` runs in the last arrival, under the
// barrier's mutex and before anyone is released, so that what it changes
// is in place before any thread can start the next phase.
template <typename OnLast>
int pass_barrier(dyx_thread_barrier_t *barrier, int32_t count, OnLast on_last) {
    if (barrier == nullptr || barrier->valid != DYX_BARRIER_VALID || count < 1) return DYX_THREAD_FAILED;
    if (pthread_mutex_lock(&barrier->mutex) != 0) return DYX_THREAD_FAILED;
    int32_t remaining;
    if (barrier->thread_count == 0) {
        barrier->thread_count = count;
        remaining = count;
    } else {
        remaining = barrier->remaining;
    }
    const int32_t cycle = barrier->cycle;
    if (--remaining > 0) {
        barrier->remaining = remaining;
        NoCancellation no_cancellation;
        int error = 0;
        while (barrier->cycle == cycle && error == 0)
            error = pthread_cond_wait(&barrier->cond, &barrier->mutex);
        pthread_mutex_unlock(&barrier->mutex);
        return error == 0 ? 0 : DYX_THREAD_FAILED;
    }
    barrier->cycle = !barrier->cycle;
    barrier->remaining = barrier->thread_count;
    on_last();
    const int result = pthread_cond_broadcast(&barrier->cond) == 0 ? 1 : DYX_THREAD_FAILED;
    pthread_mutex_unlock(&barrier->mutex);
    return result;
}

// One reduction's state; the phase protocol is in run_phase.
struct Reduction {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    dyx_thread_barrier_t combined{};  // everyone has contributed
    dyx_thread_barrier_t read{};      // everyone has read the result
    bool first_time = true;
    bool very_first_time = true;
};

// One phase of a reduction: `combine(first)` folds the caller's value in
// under the reduction's mutex (first = this is the phase's first arrival),
// `read_result` copies the result out once every thread has contributed.
// A thread whose lock fails reports and still passes both barriers without
// contributing, so that the rest of its group is not left waiting.
template <typename Combine, typename ReadResult>
void run_phase(Reduction &reduction, int32_t count, const char *lock_message, Combine combine,
               ReadResult read_result) {
    const int error = pthread_mutex_lock(&reduction.mutex);
    if (error != 0) {
        dyx_error(lock_message, error);
    } else {
        if (reduction.first_time) {
            if (reduction.very_first_time) {
                dyx_thread_barrier_init(&reduction.combined);
                dyx_thread_barrier_init(&reduction.read);
                reduction.very_first_time = false;
            }
            combine(true);
            reduction.first_time = false;
        } else {
            combine(false);
        }
        pthread_mutex_unlock(&reduction.mutex);
    }
    pass_barrier(&reduction.combined, count, [&] { reduction.first_time = true; });
    read_result();
    pass_barrier(&reduction.read, count, [&] {
        // Both counts are cleared before anyone is released, so the next
        // phase may use another thread count.
        reduction.read.thread_count = 0;
        dyx_thread_barrier_reinit(&reduction.combined);
    });
}

template <typename T, typename Fold>
T reduce_scalar(Reduction &reduction, T &running, T value, int32_t count, const char *lock_message,
                Fold fold) {
    T result = T();
    run_phase(
        reduction, count, lock_message, [&](bool first) { running = first ? value : fold(running, value); },
        [&] { result = running; });
    return result;
}

template <typename T, typename Add>
void reduce_array(Reduction &reduction, const T *own, T *shared, int32_t length, int32_t count,
                  const char *lock_message, Add add) {
    const bool usable = own != nullptr && shared != nullptr && length > 0;
    run_phase(
        reduction, count, lock_message,
        [&](bool first) {
            if (!usable) return;
            if (first) {
                std::memcpy(shared, own, sizeof(T) * static_cast<size_t>(length));
            } else {
                for (int32_t i = 0; i < length; ++i) shared[i] = add(shared[i], own[i]);
            }
        },
        [] {});
}

// Integer sums wrap around instead of overflowing.
int32_t wrapping_add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

Reduction dmax_reduction, dmin_reduction, dsum_reduction, isum_reduction, dsums_reduction, isums_reduction;
double dmax_value = 0, dmin_value = 0, dsum_value = 0;
int32_t isum_value = 0;

}  // namespace

extern "C" {

int dyx_thread_barrier_init(dyx_thread_barrier_t *barrier) {
    if (barrier == nullptr) return DYX_THREAD_FAILED;
    barrier->thread_count = 0;
    barrier->remaining = 0;
    barrier->cycle = 0;
    if (pthread_mutex_init(&barrier->mutex, nullptr) != 0) return DYX_THREAD_FAILED;
    if (pthread_cond_init(&barrier->cond, nullptr) != 0) {
        pthread_mutex_destroy(&barrier->mutex);
        return DYX_THREAD_FAILED;
    }
    barrier->valid = DYX_BARRIER_VALID;
    return DYX_THREAD_OK;
}

int dyx_thread_barrier(dyx_thread_barrier_t *barrier, int32_t count) {
    return pass_barrier(barrier, count, [] {});
}

void dyx_thread_barrier_reinit(dyx_thread_barrier_t *barrier) {
    if (barrier == nullptr || barrier->valid != DYX_BARRIER_VALID) return;
    pthread_mutex_lock(&barrier->mutex);
    barrier->thread_count = 0;
    pthread_mutex_unlock(&barrier->mutex);
}

int dyx_thread_barrier_destroy(dyx_thread_barrier_t *barrier) {
    if (barrier == nullptr || barrier->valid != DYX_BARRIER_VALID) return DYX_THREAD_FAILED;
    barrier->valid = -1;
    pthread_cond_destroy(&barrier->cond);
    pthread_mutex_destroy(&barrier->mutex);
    return DYX_THREAD_OK;
}

double dyx_thread_reduce_dmax(double value, int32_t count) {
    return reduce_scalar(dmax_reduction, dmax_value, value, count,
                         "dyx_thread_reduce_dmax: error from locking dmax_mutex %d\n",
                         [](double a, double b) { return b > a ? b : a; });
}

double dyx_thread_reduce_dmin(double value, int32_t count) {
    return reduce_scalar(dmin_reduction, dmin_value, value, count,
                         "dyx_thread_reduce_dmin: error from locking dmin_mutex %d\n",
                         [](double a, double b) { return b < a ? b : a; });
}

double dyx_thread_global_dsum(double value, int32_t count) {
    return reduce_scalar(dsum_reduction, dsum_value, value, count,
                         "dyx_thread_global_dsum: error from locking dsum_mutex %d\n",
                         [](double a, double b) { return a + b; });
}

int32_t dyx_thread_global_isum(int32_t value, int32_t count) {
    return reduce_scalar(isum_reduction, isum_value, value, count,
                         "dyx_thread_global_isum: error from locking isum_mutex %d\n", wrapping_add);
}

void dyx_thread_global_dsums(const double *own, double *shared, int32_t length, int32_t count) {
    reduce_array(dsums_reduction, own, shared, length, count,
                 "dyx_thread_global_dsums: error from locking dsums_mutex %d\n",
                 [](double a, double b) { return a + b; });
}

void dyx_thread_global_isums(const int32_t *own, int32_t *shared, int32_t length, int32_t count) {
    reduce_array(isums_reduction, own, shared, length, count,
                 "dyx_thread_global_isums: error from locking isums_mutex %d\n", wrapping_add);
}

}  // extern "C"
