/* Frame pipelines: frames decoded ahead of a script or encoded behind it on
 * the library's own worker threads.
 *
 * A pipeline runs numbered jobs (one frame each) on its workers through a
 * bounded queue: dyx_udil_pipeline_submit waits while `capacity` jobs are
 * queued, running or waiting to be taken, so memory stays at a few frames.
 * With one worker the jobs run in the order they were submitted; with more
 * they start in that order and finish in any order.
 *
 * Failures are never lost: the first failure by job number (its status and
 * the reason text the job gave) is kept until dyx_udil_pipeline_failure
 * hands it over; while it is kept, jobs not yet started are dropped, as a
 * script stops at a failed frame. Every wait ends when the jobs it waits
 * for end; dyx_udil_pipeline_free waits for the running ones and drops the
 * rest. One thread drives a pipeline; its jobs run on the workers. */
#ifndef DYX_UDIL_PIPELINE_H
#define DYX_UDIL_PIPELINE_H

#include <stddef.h>
#include <stdint.h>

#include "dyx_api.h"

DYX_BEGIN_DECLS

#define DYX_UDIL_PIPELINE_TEXT_SIZE 512

typedef struct DyxUdilPipeline DyxUdilPipeline;

typedef struct DyxUdilPipelineSetup {
    int32_t workers;      /* threads, 1 to 256 */
    int32_t capacity;     /* jobs held at once; raised to `workers` when lower */
    int32_t keep_results; /* 1: finished jobs wait for dyx_udil_pipeline_take; 0: released at once */
    /* Runs `job` on a worker: DYX_OK, or a status with the reason written into
     * `text` (`size` bytes). `*worker_state` starts null for each worker
     * and keeps what the job leaves there for that worker's later jobs. */
    int (*run)(void *job, void **worker_state, void *context, char *text, size_t size);
    /* Releases a job the pipeline owns (dropped, finished or failed). */
    void (*release)(void *job, void *context);
    /* Releases a worker's state when the pipeline is freed; may be null. */
    void (*release_worker)(void *worker_state, void *context);
    void *context;
} DyxUdilPipelineSetup;

/* A pipeline with its workers started, or null when memory or a thread
 * cannot be had (nothing is left running). */
DYX_API DyxUdilPipeline *dyx_udil_pipeline_new(const DyxUdilPipelineSetup *setup);

/* Hands `job` (owned from now on) to the pipeline under `number`, which
 * grows from one job to the next. Waits while the pipeline is full. DYX_OK;
 * DYX_REFUSED when the number was given before, or when the pipeline is full of
 * results waiting for dyx_udil_pipeline_take; DYX_NO_MEMORY when memory fails (the job
 * is released in every failure). */
DYX_API int dyx_udil_pipeline_submit(DyxUdilPipeline *pipeline, int64_t number, void *job);

/* Waits until no job is queued or running (results kept for taking stay). */
DYX_API void dyx_udil_pipeline_drain(DyxUdilPipeline *pipeline);

/* The first failure by job number since the last call: its status (0 when
 * none), with the job's number in *number and its reason in `text` (`size`
 * bytes; either may be null). The failure is forgotten and jobs run again. */
DYX_API int dyx_udil_pipeline_failure(DyxUdilPipeline *pipeline, int64_t *number, char *text, size_t size);

/* 1 when job `number` is queued, running or finished and not yet taken. */
DYX_API int dyx_udil_pipeline_holds(const DyxUdilPipeline *pipeline, int64_t number);

/* With keep_results: waits for job `number` and hands it back (*job, owned
 * by the caller) with its status and reason; the jobs numbered below it are
 * released (a reader moving on does not want them). -1 with *job null when
 * the pipeline does not hold that job. */
DYX_API int dyx_udil_pipeline_take(DyxUdilPipeline *pipeline, int64_t number, void **job, char *text,
                                   size_t size);

/* Drops the queued jobs, waits for the running ones and releases every
 * result and the kept failure: the pipeline is empty and ready again. */
DYX_API void dyx_udil_pipeline_discard(DyxUdilPipeline *pipeline);

/* Discards as above, stops the workers, releases their states and the
 * pipeline, and nulls *pipeline. Null or a null *pipeline is accepted. */
DYX_API void dyx_udil_pipeline_free(DyxUdilPipeline **pipeline);

DYX_END_DECLS

#endif
