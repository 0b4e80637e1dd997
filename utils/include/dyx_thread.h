/* Threads, barriers and global reductions over POSIX threads.
 *
 * The library keeps a table of DYX_MAX_THREADS slots; every thread started
 * with dyx_thread_create knows its slot number through dyx_thread_index
 * (the memory pools keep one free list per index). Slot 0 is the thread
 * that called dyx_thread_init; every thread the library did not start also
 * reads index 0 (but does not use slot 0's pool lists: see dyx_mpool.h).
 *
 * The wrappers give 0 on success and -1 on failure (after calling
 * dyx_stop_here, so that a debugger can stop there); exceptions are noted
 * at each declaration. */
#ifndef DYX_THREAD_H
#define DYX_THREAD_H

#include <pthread.h>
#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

/* Number of slots in the thread table, slot 0 included. */
#define DYX_MAX_THREADS 2048
/* Stack size of every library thread. */
#define DYX_THREAD_STACK_SIZE 2097152
/* Validity mark of an initialised barrier. */
#define DYX_BARRIER_VALID 43981
/* Result of dyx_thread_cond_timedwait when the time ran out. */
#define DYX_THREAD_TIMEDOUT 99

typedef pthread_mutex_t dyx_thread_mutex_t;
typedef pthread_cond_t dyx_thread_cond_t;
typedef pthread_key_t dyx_thread_key_t;

/* A thread function: its result is handed out by dyx_thread_join. */
typedef int32_t (*dyx_thread_func)(void *argument);

/* Counting semaphore: a negative value means that many callers wait. */
typedef struct dyx_thread_sema {
    int32_t value;
    int32_t waiters;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
} dyx_thread_sema_t;

/* Reusable barrier. The thread count is taken from the first arrival of a
 * phase while it is 0 (see dyx_thread_barrier_reinit). */
typedef struct dyx_thread_barrier {
    int32_t thread_count;
    int32_t remaining;
    int32_t cycle;
    int32_t valid;
    pthread_mutex_t mutex;
    pthread_cond_t cond;
} dyx_thread_barrier_t;

/* Readies the thread table and makes the caller slot 0. Only the first
 * call does anything; later calls leave running threads alone. Returns 0. */
DYX_API int dyx_thread_init(void);
/* Starts `function(argument)` on a new joinable thread with a 2 MiB stack
 * in the next free slot, whose number goes to *index. Returns 0, or -1 when
 * every slot is taken (a finished thread keeps its slot until joined) or
 * the thread cannot start. */
DYX_API int dyx_thread_create(int32_t *index, dyx_thread_func function, void *argument);
/* Waits for the thread of slot *index, hands out its function's result
 * (-1 for a thread that was cancelled or exited early) when `result` is not
 * null and frees the slot. -1 for a slot that holds no started thread. */
DYX_API int dyx_thread_join(int32_t *index, int32_t *result);
/* Asks the thread of slot *index to cancel; 0 or -1. It must still be
 * joined to free its slot. */
DYX_API int dyx_thread_cancel(int32_t *index);
/* The calling thread's slot number: 0 for threads the library did not
 * start (and before dyx_thread_init). Kept in thread-local storage, so
 * reading it is a single load. */
DYX_API int32_t dyx_thread_index(void);
DYX_API int32_t dyx_thread_self(void);
/* A hint that the system ignores; does nothing. */
DYX_API void dyx_thread_setconcurrency(int32_t level);

/* Thread-specific keys, without destructor. */
DYX_API int dyx_thread_key_create(dyx_thread_key_t *key);
DYX_API int dyx_thread_setspecific(dyx_thread_key_t key, const void *value);
DYX_API void *dyx_thread_getspecific(dyx_thread_key_t key);

/* Mutexes with default attributes. trylock gives 0 when acquired, 1 when
 * the mutex is already locked, -1 on error. */
DYX_API int dyx_thread_mutex_init(dyx_thread_mutex_t *mutex);
DYX_API int dyx_thread_mutex_destroy(dyx_thread_mutex_t *mutex);
DYX_API int dyx_thread_mutex_lock(dyx_thread_mutex_t *mutex);
DYX_API int dyx_thread_mutex_unlock(dyx_thread_mutex_t *mutex);
DYX_API int dyx_thread_mutex_trylock(dyx_thread_mutex_t *mutex);

/* Condition variables. The timed wait gives 0 when woken,
 * DYX_THREAD_TIMEDOUT (99) when `seconds` passed first, -1 on error;
 * negative seconds count as 0. */
DYX_API int dyx_thread_cond_init(dyx_thread_cond_t *cond);
DYX_API int dyx_thread_cond_destroy(dyx_thread_cond_t *cond);
DYX_API int dyx_thread_cond_signal(dyx_thread_cond_t *cond);
DYX_API int dyx_thread_cond_broadcast(dyx_thread_cond_t *cond);
DYX_API int dyx_thread_cond_wait(dyx_thread_cond_t *cond, dyx_thread_mutex_t *mutex);
DYX_API int dyx_thread_cond_timedwait(dyx_thread_cond_t *cond, dyx_thread_mutex_t *mutex, float seconds);

/* Counting semaphore. wait blocks while the value it lowered is negative;
 * release raises it. reset sets the value and clears the waiters without
 * locking (only while nobody waits) and gives 0. */
DYX_API int dyx_thread_sema_init(dyx_thread_sema_t *sema, int32_t value);
DYX_API int dyx_thread_sema_wait(dyx_thread_sema_t *sema);
DYX_API int dyx_thread_sema_release(dyx_thread_sema_t *sema);
DYX_API int dyx_thread_sema_reset(dyx_thread_sema_t *sema, int32_t value);
DYX_API int dyx_thread_sema_destroy(dyx_thread_sema_t *sema);

/* Barrier: dyx_thread_barrier blocks until `count` threads have arrived,
 * then gives 1 to the last arrival and 0 to the others; -1 for a barrier
 * that is not valid, a count below 1 or a failed system call. Waiting
 * threads cannot be cancelled. reinit lets the next phase take a new
 * count; destroy gives 0, or -1 for a barrier that is not valid. */
DYX_API int dyx_thread_barrier_init(dyx_thread_barrier_t *barrier);
DYX_API int dyx_thread_barrier(dyx_thread_barrier_t *barrier, int32_t count);
DYX_API void dyx_thread_barrier_reinit(dyx_thread_barrier_t *barrier);
DYX_API int dyx_thread_barrier_destroy(dyx_thread_barrier_t *barrier);

/* Global reductions: each of `count` threads calls the function once per
 * phase with its own value, and every one of them receives the combined
 * value. One group of threads uses a reduction at a time; the next phase
 * may use another count. Integer sums wrap around on overflow. */
DYX_API double dyx_thread_reduce_dmax(double value, int32_t count);
DYX_API double dyx_thread_reduce_dmin(double value, int32_t count);
DYX_API double dyx_thread_global_dsum(double value, int32_t count);
DYX_API int32_t dyx_thread_global_isum(int32_t value, int32_t count);
/* Element-wise sums of `length` elements: every thread passes its own
 * array and the same `shared` array, which afterwards holds the sums. */
DYX_API void dyx_thread_global_dsums(const double *own, double *shared, int32_t length, int32_t count);
DYX_API void dyx_thread_global_isums(const int32_t *own, int32_t *shared, int32_t length, int32_t count);

DYX_END_DECLS

#endif
