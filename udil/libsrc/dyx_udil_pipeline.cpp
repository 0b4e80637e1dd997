// Frame pipelines: numbered jobs run on worker threads through a bounded
// queue, with results kept for the caller or failures kept for reporting.
#include "dyx_udil_pipeline.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "dyx_status.h"
#include "udil_internal.h"

namespace {

enum class JobState { kQueued, kRunning, kDone };

struct Job {
    void *payload = nullptr;
    JobState state = JobState::kQueued;
    bool unwanted = false;  // released as soon as it finishes
    int status = 0;
    char text[DYX_UDIL_PIPELINE_TEXT_SIZE] = {};
};

}  // namespace

struct DyxUdilPipeline {
    DyxUdilPipelineSetup setup{};
    mutable std::mutex mutex;
    std::condition_variable work_ready;  // workers wait here for jobs
    std::condition_variable job_ended;   // the driving thread waits here
    std::map<int64_t, Job> jobs;         // every job held, by number
    std::deque<int64_t> queue;           // numbers to start, oldest first
    int64_t active = 0;                  // jobs queued or running
    bool stopping = false;
    int failure_status = 0;
    int64_t failure_number = 0;
    char failure_text[DYX_UDIL_PIPELINE_TEXT_SIZE] = {};
    std::vector<std::thread> workers;

    void release(void *payload) {
        if (payload != nullptr && setup.release != nullptr) setup.release(payload, setup.context);
    }

    // Forgets a job that has not started (its number stays in the queue and
    // is skipped) or has finished. Call with the mutex held.
    void forget(std::map<int64_t, Job>::iterator where) {
        if (where->second.state == JobState::kQueued) --active;
        release(where->second.payload);
        jobs.erase(where);
    }

    void keep_failure(int64_t number, const Job &job) {
        if (failure_status != 0 && failure_number < number) return;
        failure_status = job.status;
        failure_number = number;
        udil::copy_text(failure_text, sizeof failure_text, job.text);
    }

    void finish(int64_t number, Job &job) {
        job.state = JobState::kDone;
        --active;
        if (!setup.keep_results && job.status != 0) keep_failure(number, job);
        if (!setup.keep_results || job.unwanted) forget(jobs.find(number));
        job_ended.notify_all();
    }

    void work() {
        void *state = nullptr;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            work_ready.wait(lock, [this] { return stopping || !queue.empty(); });
            if (stopping) break;
            const int64_t number = queue.front();
            queue.pop_front();
            auto where = jobs.find(number);
            if (where == jobs.end() || where->second.state != JobState::kQueued) continue;  // dropped
            Job &job = where->second;
            // A kept failure stops the frames behind it, as a script stops
            // at a failed frame.
            if (!setup.keep_results && failure_status != 0) {
                forget(where);
                job_ended.notify_all();
                continue;
            }
            job.state = JobState::kRunning;
            lock.unlock();
            char text[DYX_UDIL_PIPELINE_TEXT_SIZE] = {};
            const int status = setup.run(job.payload, &state, setup.context, text, sizeof text);
            lock.lock();
            job.status = status;
            std::memcpy(job.text, text, sizeof text);
            job.text[sizeof job.text - 1] = '\0';
            finish(number, job);
        }
        lock.unlock();
        if (state != nullptr && setup.release_worker != nullptr) setup.release_worker(state, setup.context);
    }

    // Drops queued jobs and marks running ones unwanted. Mutex held.
    void drop_all() {
        for (auto where = jobs.begin(); where != jobs.end();) {
            auto next = std::next(where);
            if (where->second.state == JobState::kRunning)
                where->second.unwanted = true;
            else
                forget(where);
            where = next;
        }
        queue.clear();
    }

    void stop_workers() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        work_ready.notify_all();
        for (std::thread &worker : workers)
            if (worker.joinable()) worker.join();
    }
};

extern "C" {

DyxUdilPipeline *dyx_udil_pipeline_new(const DyxUdilPipelineSetup *setup) {
    if (setup == nullptr || setup->run == nullptr || setup->workers < 1 || setup->workers > 256)
        return nullptr;
    DyxUdilPipeline *pipeline = new (std::nothrow) DyxUdilPipeline;
    if (pipeline == nullptr) return nullptr;
    pipeline->setup = *setup;
    pipeline->setup.capacity = std::max(setup->capacity, setup->workers);
    try {
        pipeline->workers.reserve(size_t(setup->workers));
        for (int32_t k = 0; k < setup->workers; ++k)
            pipeline->workers.emplace_back([pipeline] { pipeline->work(); });
    } catch (const std::exception &) {  // no memory or no thread: stop what started
        pipeline->stop_workers();
        delete pipeline;
        return nullptr;
    }
    return pipeline;
}

int dyx_udil_pipeline_submit(DyxUdilPipeline *pipeline, int64_t number, void *job) {
    if (pipeline == nullptr) return DYX_REFUSED;
    std::unique_lock<std::mutex> lock(pipeline->mutex);
    const auto full = [pipeline] {
        return int64_t(pipeline->jobs.size()) >= int64_t(pipeline->setup.capacity);
    };
    // Room comes when a job ends; a pipeline full of results waiting to be
    // taken would never make room.
    pipeline->job_ended.wait(lock, [&] { return !full() || pipeline->active == 0; });
    if (full()) {
        pipeline->release(job);
        return DYX_REFUSED;
    }
    try {
        auto placed = pipeline->jobs.emplace(number, Job{});
        if (!placed.second) {  // a number given twice: the caller's fault
            pipeline->release(job);
            return DYX_REFUSED;
        }
        placed.first->second.payload = job;
        try {
            pipeline->queue.push_back(number);
        } catch (const std::bad_alloc &) {
            pipeline->jobs.erase(placed.first);
            throw;
        }
    } catch (const std::bad_alloc &) {
        pipeline->release(job);
        return DYX_NO_MEMORY;
    }
    ++pipeline->active;
    pipeline->work_ready.notify_one();
    return DYX_OK;
}

void dyx_udil_pipeline_drain(DyxUdilPipeline *pipeline) {
    if (pipeline == nullptr) return;
    std::unique_lock<std::mutex> lock(pipeline->mutex);
    pipeline->job_ended.wait(lock, [pipeline] { return pipeline->active == 0; });
}

int dyx_udil_pipeline_failure(DyxUdilPipeline *pipeline, int64_t *number, char *text, size_t size) {
    if (pipeline == nullptr) return 0;
    std::lock_guard<std::mutex> lock(pipeline->mutex);
    const int status = pipeline->failure_status;
    if (number != nullptr) *number = pipeline->failure_number;
    udil::copy_text(text, size, status != 0 ? pipeline->failure_text : "");
    pipeline->failure_status = 0;
    return status;
}

int dyx_udil_pipeline_holds(const DyxUdilPipeline *pipeline, int64_t number) {
    if (pipeline == nullptr) return 0;
    std::lock_guard<std::mutex> lock(pipeline->mutex);
    auto where = pipeline->jobs.find(number);
    return where != pipeline->jobs.end() && !where->second.unwanted;
}

int dyx_udil_pipeline_take(DyxUdilPipeline *pipeline, int64_t number, void **job, char *text, size_t size) {
    if (job != nullptr) *job = nullptr;
    udil::copy_text(text, size, "");
    if (pipeline == nullptr || job == nullptr) return -1;
    std::unique_lock<std::mutex> lock(pipeline->mutex);
    auto where = pipeline->jobs.find(number);
    if (where == pipeline->jobs.end() || where->second.unwanted) return -1;
    for (auto older = pipeline->jobs.begin(); older != where;) {
        auto next = std::next(older);
        if (older->second.state == JobState::kRunning)
            older->second.unwanted = true;
        else
            pipeline->forget(older);
        older = next;
    }
    pipeline->job_ended.notify_all();  // room for the submitter
    Job &wanted = where->second;
    pipeline->job_ended.wait(lock, [&wanted] { return wanted.state == JobState::kDone; });
    *job = wanted.payload;
    const int status = wanted.status;
    udil::copy_text(text, size, wanted.text);
    pipeline->jobs.erase(where);
    pipeline->job_ended.notify_all();
    return status;
}

void dyx_udil_pipeline_discard(DyxUdilPipeline *pipeline) {
    if (pipeline == nullptr) return;
    std::unique_lock<std::mutex> lock(pipeline->mutex);
    pipeline->drop_all();
    pipeline->job_ended.notify_all();
    pipeline->job_ended.wait(lock, [pipeline] { return pipeline->jobs.empty(); });
    pipeline->failure_status = 0;
}

void dyx_udil_pipeline_free(DyxUdilPipeline **pipeline) {
    if (pipeline == nullptr || *pipeline == nullptr) return;
    dyx_udil_pipeline_discard(*pipeline);
    (*pipeline)->stop_workers();
    delete *pipeline;
    *pipeline = nullptr;
}

}  // extern "C"
