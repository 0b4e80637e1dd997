// Thread table, thread index and the thin wrappers over POSIX mutexes,
// condition variables and thread-specific keys.
#include "dyx_thread.h"

#include <sys/time.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>

#include "dyx_malloc.h"
#include "dyx_status.h"
#include "dyx_thread_index.h"

namespace dyx_thread_detail {
__thread int32_t current_index __attribute__((tls_model("initial-exec"))) = kForeignThread;

namespace {
// Set once, by the first thread to call dyx_thread_init or adopt slot 0.
std::atomic<bool> slot_zero_taken{false};
}  // namespace

bool adopt_slot_zero() {
    if (current_index == 0) return true;
    bool expected = false;
    if (!slot_zero_taken.compare_exchange_strong(expected, true)) return false;
    current_index = 0;
    return true;
}
}  // namespace dyx_thread_detail

namespace {

enum SlotState : int32_t { kSlotFree = 0, kSlotRunning = 1, kSlotFinished = 2 };

struct ThreadSlot {
    int32_t state;
    int32_t result;
    pthread_t id;
    dyx_thread_func function;
    void *argument;
    bool joining;  // a join is under way: a second join must not touch the id
};

struct ThreadTable {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    ThreadSlot slots[DYX_MAX_THREADS] = {};
    int32_t last_index = 0;
    bool initialised = false;
};

ThreadTable table;

// Locks the table for one scope.
class TableLock {
public:
    TableLock() { pthread_mutex_lock(&table.mutex); }
    ~TableLock() { pthread_mutex_unlock(&table.mutex); }
    TableLock(const TableLock &) = delete;
    TableLock &operator=(const TableLock &) = delete;
};

// Slot 0 always belongs to the initialising (main) thread; called with the
// table locked.
void claim_slot_zero() {
    if (table.initialised) return;
    for (ThreadSlot &slot : table.slots) slot = ThreadSlot{};
    table.slots[0].state = kSlotRunning;
    table.slots[0].result = -1;
    table.slots[0].id = pthread_self();
    table.last_index = 0;
    table.initialised = true;
}

bool is_thread_slot(int32_t index) { return index > 0 && index < DYX_MAX_THREADS; }

int fail() {
    dyx_stop_here();
    return DYX_THREAD_FAILED;
}

int check(int error) { return error == 0 ? 0 : fail(); }

// Marks the slot finished however the thread function ends: by returning,
// by pthread_exit or by cancellation (which unwinds through this guard).
// Without it a cancelled thread would stay "running" forever.
class FinishSlotOnExit {
public:
    explicit FinishSlotOnExit(int32_t index) : index_(index) {}
    ~FinishSlotOnExit() {
        TableLock lock;
        table.slots[index_].result = result;
        table.slots[index_].state = kSlotFinished;
    }
    FinishSlotOnExit(const FinishSlotOnExit &) = delete;
    FinishSlotOnExit &operator=(const FinishSlotOnExit &) = delete;
    int32_t result = -1;

private:
    int32_t index_;
};

void *thread_main(void *raw_index) {
    const auto index = static_cast<int32_t>(reinterpret_cast<intptr_t>(raw_index));
    dyx_thread_func function;
    void *argument;
    {
        // Taking the table lock waits until the creator has filled the slot.
        TableLock lock;
        dyx_thread_detail::current_index = index;
        function = table.slots[index].function;
        argument = table.slots[index].argument;
    }
    FinishSlotOnExit finish(index);
    finish.result = function(argument);
    return nullptr;
}

int start_thread(int32_t index) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return DYX_THREAD_FAILED;
    int error = pthread_attr_setstacksize(&attributes, DYX_THREAD_STACK_SIZE);
    if (error == 0) error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_JOINABLE);
    if (error == 0) {
        error = pthread_create(&table.slots[index].id, &attributes, thread_main,
                               reinterpret_cast<void *>(static_cast<intptr_t>(index)));
    }
    pthread_attr_destroy(&attributes);
    return error == 0 ? DYX_THREAD_OK : DYX_THREAD_FAILED;
}

}  // namespace

extern "C" {

int dyx_thread_init(void) {
    TableLock lock;
    claim_slot_zero();
    // Slot 0 and its private pool lists belong to one thread only: the
    // first caller, unless a thread already adopted it.
    dyx_thread_detail::adopt_slot_zero();
    return DYX_THREAD_OK;
}

int dyx_thread_create(int32_t *index, dyx_thread_func function, void *argument) {
    if (function == nullptr) return DYX_THREAD_FAILED;
    TableLock lock;
    claim_slot_zero();
    for (int32_t step = 1; step <= DYX_MAX_THREADS; ++step) {
        const int32_t candidate = (table.last_index + step) % DYX_MAX_THREADS;
        ThreadSlot &slot = table.slots[candidate];
        if (slot.state != kSlotFree) continue;
        slot = ThreadSlot{kSlotRunning, -1, pthread_t(), function, argument, false};
        if (start_thread(candidate) != 0) {
            slot = ThreadSlot{};
            return DYX_THREAD_FAILED;
        }
        table.last_index = candidate;
        if (index != nullptr) *index = candidate;
        return DYX_THREAD_OK;
    }
    return DYX_THREAD_FAILED;
}

int dyx_thread_join(int32_t *index, int32_t *result) {
    if (index == nullptr || !is_thread_slot(*index)) return DYX_THREAD_FAILED;
    const int32_t which = *index;
    pthread_t id;
    {
        TableLock lock;
        ThreadSlot &slot = table.slots[which];
        if (slot.state == kSlotFree || slot.joining) return DYX_THREAD_FAILED;
        slot.joining = true;
        id = slot.id;
    }
    const int error = pthread_join(id, nullptr);
    TableLock lock;
    ThreadSlot &slot = table.slots[which];
    if (error != 0) {
        slot.joining = false;
        return DYX_THREAD_FAILED;
    }
    if (result != nullptr) *result = slot.result;
    slot = ThreadSlot{};
    return DYX_THREAD_OK;
}

int dyx_thread_cancel(int32_t *index) {
    if (index == nullptr || !is_thread_slot(*index)) return DYX_THREAD_FAILED;
    // The lock keeps the slot from being joined and reused meanwhile.
    TableLock lock;
    const ThreadSlot &slot = table.slots[*index];
    if (slot.state == kSlotFree) return DYX_THREAD_FAILED;
    return pthread_cancel(slot.id) == 0 ? DYX_THREAD_OK : DYX_THREAD_FAILED;
}

int32_t dyx_thread_index(void) {
    const int32_t index = dyx_thread_detail::thread_index();
    return index == dyx_thread_detail::kForeignThread ? 0 : index;
}

int32_t dyx_thread_self(void) { return dyx_thread_index(); }

void dyx_thread_setconcurrency(int32_t) {}

int dyx_thread_key_create(dyx_thread_key_t *key) {
    if (key == nullptr) return fail();
    return check(pthread_key_create(key, nullptr));
}

int dyx_thread_setspecific(dyx_thread_key_t key, const void *value) {
    return check(pthread_setspecific(key, value));
}

void *dyx_thread_getspecific(dyx_thread_key_t key) { return pthread_getspecific(key); }

int dyx_thread_mutex_init(dyx_thread_mutex_t *mutex) {
    if (mutex == nullptr) return fail();
    return check(pthread_mutex_init(mutex, nullptr));
}

int dyx_thread_mutex_destroy(dyx_thread_mutex_t *mutex) {
    if (mutex == nullptr) return fail();
    return check(pthread_mutex_destroy(mutex));
}

int dyx_thread_mutex_lock(dyx_thread_mutex_t *mutex) {
    if (mutex == nullptr) return fail();
    return check(pthread_mutex_lock(mutex));
}

int dyx_thread_mutex_unlock(dyx_thread_mutex_t *mutex) {
    if (mutex == nullptr) return fail();
    return check(pthread_mutex_unlock(mutex));
}

int dyx_thread_mutex_trylock(dyx_thread_mutex_t *mutex) {
    if (mutex == nullptr) return fail();
    const int error = pthread_mutex_trylock(mutex);
    if (error == EBUSY) return 1;
    return check(error);
}

int dyx_thread_cond_init(dyx_thread_cond_t *cond) {
    if (cond == nullptr) return fail();
    return check(pthread_cond_init(cond, nullptr));
}

int dyx_thread_cond_destroy(dyx_thread_cond_t *cond) {
    if (cond == nullptr) return fail();
    return check(pthread_cond_destroy(cond));
}

int dyx_thread_cond_signal(dyx_thread_cond_t *cond) {
    if (cond == nullptr) return fail();
    return check(pthread_cond_signal(cond));
}

int dyx_thread_cond_broadcast(dyx_thread_cond_t *cond) {
    if (cond == nullptr) return fail();
    return check(pthread_cond_broadcast(cond));
}

int dyx_thread_cond_wait(dyx_thread_cond_t *cond, dyx_thread_mutex_t *mutex) {
    if (cond == nullptr || mutex == nullptr) return fail();
    return check(pthread_cond_wait(cond, mutex));
}

int dyx_thread_cond_timedwait(dyx_thread_cond_t *cond, dyx_thread_mutex_t *mutex, float seconds) {
    if (cond == nullptr || mutex == nullptr) return fail();
    // Negative or NaN waits end at once; a century is as good as forever
    // and keeps the deadline inside time_t.
    constexpr double kLongestWait = 100.0 * 365 * 24 * 3600;
    double wait = std::isnan(seconds) || seconds < 0 ? 0.0 : static_cast<double>(seconds);
    if (wait > kLongestWait) wait = kLongestWait;
    const double whole = std::floor(wait);
    struct timeval now;
    gettimeofday(&now, nullptr);
    struct timespec deadline;
    deadline.tv_sec = now.tv_sec + static_cast<time_t>(whole);
    int64_t nanoseconds = static_cast<int64_t>((wait - whole) * 1e9) + int64_t{now.tv_usec} * 1000;
    if (nanoseconds >= 1000000000) {
        deadline.tv_sec += 1;
        nanoseconds -= 1000000000;
    }
    deadline.tv_nsec = static_cast<long>(nanoseconds);
    const int error = pthread_cond_timedwait(cond, mutex, &deadline);
    if (error == ETIMEDOUT) return DYX_THREAD_TIMEDOUT;
    return check(error);
}

}  // extern "C"
