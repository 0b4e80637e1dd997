// Worker count and row-band loops (see dyx_parallel.h).
//
// Bands run on a small pool of threads started on first use and kept for
// the life of the process, so that a job of a millisecond does not pay for
// starting threads. The pool runs one job at a time: a caller that finds it
// busy (another thread's job, or a band that itself splits rows) runs its
// bands on its own thread instead of waiting. The caller always takes bands
// too, so a job finishes even when no worker gets to run.
//
// Waking a sleeping thread takes tens of microseconds on a virtual machine,
// a tenth of a frame-sized conversion. So each wait spins for a short while
// before it sleeps: a worker after its job, for the next job that a chain
// of operations brings at once, and the caller at the end of a job, for the
// worker's last band.
#include "dyx_parallel.h"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

constexpr int kMaxThreads = 256;
constexpr int64_t kBandsPerThread = 8;

int default_threads() {
    if (const char* text = std::getenv("ORVO_THREADS")) {
        char* end = nullptr;
        long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value >= 1 && value <= kMaxThreads) return static_cast<int>(value);
    }
    unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp<unsigned>(cores, 1, kMaxThreads));
}

std::atomic<int> thread_setting{0};  // 0: not chosen yet

// How long a wait spins before it sleeps: long enough to cover the
// interpreter's time between two operations of a script, and a band of a
// frame-sized job (a sixteenth of it or less); short enough that a thread
// waiting for a worker that the machine has put aside soon gives way.
constexpr std::chrono::microseconds kSpin{200};

void relax() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// Spins until done() holds or `limit` has passed; returns done().
template <typename Done>
bool spin_until(const Done& done, std::chrono::microseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (int i = 0; i < 64; ++i) {
            if (done()) return true;
            relax();
        }
        if (std::chrono::steady_clock::now() >= deadline) return done();
    }
}

// One job: bands of [0, rows) handed out by a counter.
struct Job {
    void (*body)(int64_t, int64_t, void*) = nullptr;
    void* context = nullptr;
    int64_t rows = 0;
    int64_t bands = 0;
    unsigned helpers = 0;              // workers allowed to join the caller
    std::atomic<int64_t> next{0};      // the next band to take
    std::atomic<int64_t> finished{0};  // bands done, added under the pool's lock

    int64_t band_start(int64_t band) const { return rows * band / bands; }
};

class Pool {
public:
    // Runs the job's bands on this thread and on up to `helpers` workers;
    // false, doing nothing, when the pool is busy with another job.
    bool run(Job& job, int helpers) {
        bool idle = false;
        if (!busy_.compare_exchange_strong(idle, true, std::memory_order_acquire)) return false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            start_workers(helpers);
            job.helpers = static_cast<unsigned>(helpers);
            job_ = &job;
            generation_.fetch_add(1, std::memory_order_release);
        }
        wake_.notify_all();
        const int64_t mine = take_bands(job);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job.finished += mine;
        }
        // Workers still holding the job must let go of it before it ends.
        const auto ended = [&] { return job.finished.load() == job.bands && active_.load() == 0; };
        spin_until(ended, kSpin);
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, ended);
        job_ = nullptr;
        busy_.store(false, std::memory_order_release);
        return true;
    }

private:
    // Runs bands until none is left; returns how many it ran.
    static int64_t take_bands(Job& job) {
        int64_t count = 0;
        for (int64_t band = job.next++; band < job.bands; band = job.next++, ++count)
            job.body(job.band_start(band), job.band_start(band + 1), job.context);
        return count;
    }

    // Called with mutex_ held. Workers block every signal (they inherit the
    // mask in force when they start), so that signals keep going to the
    // program's own threads. A worker that cannot be started is simply
    // missing: the caller runs the bands it would have taken.
    void start_workers(int wanted) {
        if (static_cast<int>(workers_) >= wanted) return;
        sigset_t all, previous;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &previous);
        while (static_cast<int>(workers_) < wanted) {
            try {
                std::thread(&Pool::work, this, generation_.load()).detach();
            } catch (...) {
                break;
            }
            ++workers_;
        }
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    void work(uint64_t seen) {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return generation_.load() != seen && job_ != nullptr; });
            seen = generation_.load();
            Job& job = *job_;
            // Workers left from a larger worker count sit this job out.
            if (active_ >= job.helpers) continue;
            ++active_;
            lock.unlock();
            const int64_t ran = take_bands(job);
            lock.lock();
            job.finished += ran;
            // The job may end as soon as active_ drops: it is not touched
            // after that.
            if (--active_ == 0) done_.notify_all();
            lock.unlock();
            spin_until([&] { return generation_.load(std::memory_order_acquire) != seen; }, kSpin);
            lock.lock();
        }
    }

    std::atomic<bool> busy_{false};  // set by the one caller whose job runs
    std::mutex mutex_;               // guards everything below and Job::finished
    std::condition_variable wake_;
    std::condition_variable done_;
    Job* job_ = nullptr;
    // Counts jobs, so that a worker runs each once; changed under mutex_,
    // read without it by spinning workers.
    std::atomic<uint64_t> generation_{0};
    unsigned workers_ = 0;
    std::atomic<unsigned> active_{0};  // workers now running bands of job_; changed under mutex_
};

// Never destroyed: detached workers wait on it until the process ends. A
// child process starts with a fresh pool: the parent's workers do not run
// there, and one of them may have held the pool's lock at the fork.
std::atomic<Pool*> current_pool{nullptr};

Pool& pool() {
    static const bool registered = [] {
        current_pool = new Pool;
        pthread_atfork(nullptr, nullptr, [] { current_pool = new Pool; });
        return true;
    }();
    (void)registered;
    return *current_pool.load();
}

}  // namespace

extern "C" {

int dyx_parallel_threads(void) {
    int count = thread_setting.load(std::memory_order_relaxed);
    if (count == 0) {
        int chosen = default_threads();
        thread_setting.compare_exchange_strong(count, chosen);
        return thread_setting.load(std::memory_order_relaxed);
    }
    return count;
}

int dyx_parallel_set_threads(int count) {
    int value = count <= 0 ? default_threads() : std::min(count, kMaxThreads);
    thread_setting.store(value, std::memory_order_relaxed);
    return value;
}

void dyx_parallel_rows(int64_t rows, int64_t min_rows, void (*body)(int64_t, int64_t, void*), void* context) {
    if (rows <= 0) return;
    const int64_t band_floor = std::max<int64_t>(min_rows, 1);
    const int64_t threads = dyx_parallel_threads();
    // Several bands per thread, so that a thread that starts late (woken
    // some microseconds after the caller began, or the machine busy with
    // other work) leaves its share to the others; eight gave frame-sized
    // conversions on two cores their best times.
    const int64_t bands = threads == 1 ? 1 : std::min<int64_t>(kBandsPerThread * threads, rows / band_floor);
    if (bands > 1) {
        Job job;
        job.body = body;
        job.context = context;
        job.rows = rows;
        job.bands = bands;
        if (pool().run(job, static_cast<int>(std::min<int64_t>(threads, bands) - 1))) return;
    }
    body(0, rows, context);
}

}  // extern "C"
