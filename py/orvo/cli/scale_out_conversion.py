"""The coordinator of one scale-out conversion (see scale_out): it starts
or joins the cluster, makes the tasks, runs them with progress, finishes
the output (the join of movie segments) and, after a failure or an
interruption, removes every file the conversion wrote.
"""
import contextlib
import logging
import multiprocessing
import os
import shutil
import signal
import sys
import tempfile
import threading
import time
import uuid
import warnings

from .arguments import check_local_workers, check_scheduler
from .convert_plan import create_output
from .errors import CliError, interrupted_status
from .files import EYE_LETTERS, files_of_name, frame_name, mtm_tile_files
from .inputs import open_movie
from .progress import Progress
from .carry_over import apply as carry_over
from .scale_out_join import join_segments
from .scale_out_tasks import run_task, sees_probe

# Tasks per worker: several, so that a slow or restarted worker holds up
# only a small part of the output.
FRAME_TASKS_PER_WORKER = 4
SEGMENTS_PER_WORKER = 2
# Every segment starts with a key frame; shorter ones would spend too much
# of the bit rate on them.
MIN_SEGMENT_FRAMES = 24
# Bounds of the coordinator's waits, in seconds: none of them ends the
# conversion, each only lets it look at its tasks, progress and signals.
POLL_SECONDS = 0.2
CONNECT_SECONDS = 30
STOP_SECONDS = 30
QUEUE_SECONDS = 5
TEMPORARY_PREFIX = ".orvo-scale-"
# What a worker must find in the probe file of the output's directory.
PROBE_NAME = "probe"
STOP_NAME = "stop"
# Dask's setting, read from the environment by each new process.
WORKER_LOG_LEVEL = "DASK_LOGGING__DISTRIBUTED"


def split(count, pieces, minimum=1, align=1):
    """(first, count) ranges covering 0 .. count-1: at most `pieces`, each
    of at least `minimum` frames (but the last) and, but the last, a
    multiple of `align` frames long."""
    pieces = max(1, min(pieces, count // max(minimum, 1)))
    length = -(-count // pieces)
    length = -(-length // align) * align
    return [(first, min(length, count - first)) for first in range(0, count, length)]


class Conversion(object):
    """One scale-out conversion: its tasks on the cluster and its output."""

    def __init__(self, args, job, kind, plan, timing):
        self.args, self.job, self.kind, self.plan, self.timing = args, job, kind, plan, timing
        self.client = self.cluster = None
        self.own_client = False
        self.futures = []
        self.started, self.ended = set(), set()
        self.before = _modification_times(self._output_files())

    def run(self, client):
        args, plan = self.args, self.plan
        label = os.path.basename(plan.shown)
        try:
            with _quiet_cluster_library():
                return self._run(client, label)
        except _SchedulerLost:
            raise CliError("lost the connection to the scheduler%s; the conversion was cancelled and %s "
                           "was not written" % (" at " + args.scheduler if args.scheduler else "", plan.shown))

    def _run(self, client, label):
        args, plan = self.args, self.plan
        finished = False
        try:
            self._make_private_directory()
            # Started before the progress takes over the signals, so that
            # SIGINT and SIGTERM interrupt the start itself.
            self._start(client)
            self._check_workers_see_directory()
            with _progress(self.timing.count, label, args.quiet) as progress:
                tasks = self._tasks()
                if not args.quiet:
                    sys.stderr.write("orvo: converting %s on %d workers in %d tasks\n"
                                     % (plan.shown, self.workers, len(tasks)))
                    sys.stderr.flush()
                stopped = self._run_tasks(tasks, progress)
                if stopped is None:
                    self._check_written(tasks)
                    self._finish(tasks)
                    finished = True
                # A signal while the cluster shuts down is only noted: the
                # output is complete, or its removal follows.
                self._stop()
        except BaseException:
            try:
                self._stop()
            except Exception:  # the first error is the one to report; the cluster may be half gone
                pass
            finally:
                self._clean_up(failed=not finished)
            raise
        if not finished:
            self._clean_up(failed=True)
            how = "interrupted" if stopped == signal.SIGINT else "interrupted by SIGTERM"
            sys.stderr.write("orvo: %s: the conversion was cancelled; %s was not written\n" % (how, plan.shown))
            return interrupted_status(stopped), 0
        self._clean_up(failed=False)
        if not args.quiet:
            count = self.timing.count
            print("wrote %d frame%s to %s" % (count, "" if count == 1 else "s", plan.shown))
        return 0, self.timing.count

    # ---- the cluster ----------------------------------------------------------

    def _start(self, client):
        try:
            from distributed import Client, LocalCluster, Queue
        except ImportError as error:
            raise CliError("--workers and --scheduler need Dask distributed (python3-distributed): %s" % error)
        if client is None:
            self.own_client = True
            if self.args.scheduler:
                client = _connect(Client, self.args.scheduler)
            else:
                problem = check_local_workers(self.args.workers)
                if problem is not None:
                    raise CliError(problem)
                self.cluster = _local_cluster(LocalCluster, self.args.workers)
                client = Client(self.cluster, timeout=CONNECT_SECONDS)
        self.client = client
        self.workers = max(1, len(client.scheduler_info().get("workers", {})))
        self.queue = Queue(self.job["progress_queue"], client=client)

    def _stop(self):
        """Tells running tasks to stop, cancels the others and, for a cluster
        of its own, shuts it down (which ends any task still running)."""
        if self.futures and self.client.status == "running":  # else the scheduler dropped them
            _touch(self.job["stop_file"])
            try:
                self.client.cancel(self.futures)
            except Exception:  # the cluster may be gone already
                pass
            if not self.own_client:
                try:
                    self._wait_for_running_tasks()
                except Exception:  # the cluster may be gone
                    pass
        self.futures = []
        client, cluster = self.client, self.cluster
        self.client = self.cluster = None
        try:
            if self.own_client and client is not None:
                # A client that lost its scheduler has only its own end to
                # close, and that may not answer in time.
                lost = client.status != "running"
                try:
                    client.close(timeout=POLL_SECONDS if lost else STOP_SECONDS)
                except Exception:
                    if not lost:
                        raise
        finally:
            if cluster is not None:  # shut down even when its client would not close
                cluster.close(timeout=STOP_SECONDS)

    # ---- the tasks ------------------------------------------------------------

    def _tasks(self):
        job, count, plan = self.job, self.timing.count, self.plan
        directory, stem = job["private"], "part"
        if self.kind == "tile":
            return self._tile_tasks(os.path.join(directory, stem))
        if self.kind == "frames":
            final = os.path.abspath(plan.shown)  # workers may run in other folders
            width = final.rfind("#") - final.find("#") + 1
            extension = os.path.splitext(final)[1]
            eye = "@" if "@" in final else ""
            ranges = split(count, self.workers * FRAME_TASKS_PER_WORKER)
            return [{"kind": "frames", "first": first, "count": length, "final": final, "first_number": first,
                     "temporary": os.path.join(directory, "%s-%d.%s%s%s" % (stem, k, "#" * width, eye, extension))}
                    for k, (first, length) in enumerate(ranges)]
        extension = os.path.splitext(plan.shown)[1]
        eye = "@" if "@" in plan.shown else ""
        minimum = getattr(self.args, "segment_frames", None) or MIN_SEGMENT_FRAMES
        if getattr(self.args, "segment_frames", None):
            pieces = -(-count // minimum)
        else:
            pieces = self.workers * SEGMENTS_PER_WORKER
        ranges = split(count, pieces, minimum, _key_interval(self.args.options))
        return [{"kind": "segment", "first": first, "count": length, "final": None, "first_number": 0,
                 "temporary": os.path.join(directory, "%s-%d%s%s" % (stem, k, eye, extension))}
                for k, (first, length) in enumerate(ranges)]

    def _tile_tasks(self, stem):
        """One task per tile; the .mtm description and the tiles' names come
        from the write movie opened (and closed at once) here."""
        sources = [open_movie(name, widen=self.args.sequence, notes=False, **self.job["read_attributes"])[0]
                   for name in self.job["inputs"]]
        try:
            target = create_output(self.args, sources, _codec(self.job), self.plan, self.timing)
            target.close()
        finally:
            for source in sources:
                source.close()
        across, down = self.args.tiles
        width, height = self.job["dims"]
        tile_width, tile_height = width // across, height // down
        tasks = []
        for k, final in enumerate(os.path.abspath(f) for f in mtm_tile_files(self.plan.shown)):
            column, row = divmod(k, down)  # tiles are numbered down each column
            base = os.path.basename(final)
            marks = [at for at in (base.find("#"), base.find("@")) if at >= 0]
            # The temporary name keeps the frame number, eye and suffix.
            tail = "-" + base[min(marks):] if marks else os.path.splitext(base)[1]
            tasks.append({"kind": "tile", "first": 0, "count": self.timing.count, "final": final,
                          "first_number": 0, "temporary": "%s-tile%d%s" % (stem, k, tail),
                          "tile": (column * tile_width, row * tile_height, tile_width, tile_height)})
        return tasks

    def _run_tasks(self, tasks, progress):
        """Runs the tasks to their end; returns None, or the signal number
        that stopped them. A failed task raises its error here."""
        from distributed import wait
        for k, task in enumerate(tasks):
            task["index"] = k
        self.futures = [self.client.submit(run_task, self.job, task, pure=False,
                                           key="orvo-%s-%s-%d" % (self.kind, self.job["token"], k))
                        for k, task in enumerate(tasks)]
        pending, done_frames = list(self.futures), 0
        while pending:
            if progress.interrupted:
                return progress.signal_number
            try:
                wait(pending, timeout=POLL_SECONDS, return_when="FIRST_COMPLETED")
            except Exception:  # the wait's time ran out: look again
                pass
            self._check_scheduler()
            for future in [f for f in pending if f.done()]:
                pending.remove(future)
                if future.status != "finished":
                    error = self._task_error(future)
                    if isinstance(error, CliError):
                        raise CliError(str(error))
                    raise CliError("a task of the conversion failed: %s: %s" % (type(error).__name__, error))
            for frames in self._messages("frames"):
                for _ in range(frames):
                    if done_frames < self.timing.count:
                        done_frames += 1
                        progress.frame_written(done_frames)
        self.futures = []
        return progress.signal_number

    def _check_scheduler(self):
        # A client that lost its scheduler tries to reconnect; the tasks and
        # their progress queue were lost with the scheduler all the same.
        if self.client.status != "running":
            raise _SchedulerLost()

    def _task_error(self, future):
        """The exception a task that did not finish raised; a task that has
        none was lost with the scheduler."""
        try:
            error = future.exception(timeout=STOP_SECONDS)
        except Exception:
            error = None
        if error is None:
            self._check_scheduler()
            raise _SchedulerLost()
        return error

    def _messages(self, kind):
        """The values of the `kind` messages waiting on the progress queue;
        start and end messages are noted on the way."""
        values = []
        try:
            # Bounded: a read sent as the scheduler went away would wait
            # for Dask's reconnection attempts.
            messages = self.queue.get(batch=True, callback_timeout=QUEUE_SECONDS)
        except Exception:
            self._check_scheduler()
            return values  # a slow answer: read the rest next time
        for message_kind, value in messages:
            if message_kind == "start":
                self.started.add(value)
            elif message_kind == "end":
                self.ended.add(value)
            elif message_kind == kind:
                values.append(value)
        return values

    def _wait_for_running_tasks(self):
        """Waits, at most STOP_SECONDS, until every task that started has
        ended (a cancelled task runs on until it sees the stop file)."""
        for _ in range(int(STOP_SECONDS / POLL_SECONDS)):
            self._messages(None)
            if self.started <= self.ended:
                return
            threading.Event().wait(POLL_SECONDS)

    # ---- the output -----------------------------------------------------------

    def _make_private_directory(self):
        """The directory beside the output that holds the tasks' temporary
        files, the probe and the stop file: created exclusively, under an
        unpredictable name and for this user only, so that no file or link
        can be waiting where a worker writes."""
        job = self.job
        try:
            job["private"] = tempfile.mkdtemp(prefix=TEMPORARY_PREFIX, dir=job["directory"])
        except OSError as error:
            raise CliError("cannot write %s: no private temporary directory in %s: %s"
                           % (self.plan.shown, job["directory"], error.strerror or error))
        job["stop_file"] = os.path.join(job["private"], STOP_NAME)
        job["probe"] = (os.path.join(job["private"], PROBE_NAME), uuid.uuid4().hex)
        with open(job["probe"][0], "w") as probe:
            probe.write(job["probe"][1])

    def _check_workers_see_directory(self):
        """Every worker must find the probe file this process wrote beside
        the output: a worker on another file system would write where this
        process never looks."""
        try:
            answers = self.client.run(sees_probe, *self.job["probe"])
        except Exception:
            self._check_scheduler()
            raise
        blind = sorted(address for address, sees in answers.items() if not sees)
        if blind:
            raise CliError("%s: %d of %d workers (%s) cannot see the output's directory %s; the workers and this "
                           "command must share its file system" % (self.plan.shown, len(blind), len(answers),
                                                                   ", ".join(blind), self.job["directory"]))

    def _check_written(self, tasks):
        """The tasks said they wrote their files: see that they are here."""
        if self.kind == "segment":
            expected = [frame_name(task["temporary"], 0, eye) for task in tasks for eye in self._eyes()]
        else:
            expected = self._output_files()
            if self.kind == "tile":
                expected = [task["final"] for task in tasks] + [self.plan.shown]
                expected = [frame_name(name, 0, eye) for name in expected for eye in self._eyes()]
        missing = [name for name in expected if "#" not in name and not os.path.isfile(name)]
        if missing:
            raise CliError("%s: the workers reported %d frames written, but %s is not there; the workers and "
                           "this command must share the output's file system"
                           % (self.plan.shown, self.timing.count, missing[0]))

    def _eyes(self):
        return self.job["eyes"] if "@" in self.plan.shown else EYE_LETTERS[0]

    def _finish(self, tasks):
        if self.kind != "segment":
            return
        for eye in self._eyes():
            join_segments(frame_name(self.plan.filename, 0, eye),
                          [frame_name(task["temporary"], 0, eye) for task in tasks],
                          shown=frame_name(self.plan.shown, 0, eye))
        # The join copies the pictures only; the sound comes from the source.
        if self.job.get("carry") is not None:
            carry_over(self.job["carry"], self.plan.filename, self.timing.count)
        self.plan.commit()

    def _output_files(self):
        """Every output file name of this conversion."""
        plan, job = self.plan, self.job
        if self.kind == "frames":
            eyes = job["eyes"] if "@" in plan.shown else EYE_LETTERS[0]
            return [frame_name(plan.shown, n, eye) for n in range(self.timing.count) for eye in eyes]
        if self.kind == "tile":
            return list(plan.files) + files_of_name(plan.shown)
        return []

    def _clean_up(self, failed):
        if self.job.get("private"):
            shutil.rmtree(self.job["private"], ignore_errors=True)
        if failed:
            self.plan.discard()
            for name in self._output_files() + (files_of_name(self.plan.shown) if self.kind == "tile" else []):
                if _modification_time(name) not in (None, self.before.get(name)):
                    _remove(name)


class _SchedulerLost(Exception):
    """The client lost its connection to the scheduler."""


def _connect(Client, address):
    """A client of the scheduler at `address`; a refused connection fails
    at once, a silent one after CONNECT_SECONDS."""
    problem = check_scheduler(address)
    if problem is not None:
        raise CliError(problem)
    _refuse_closed_port(address)
    import dask
    started = time.time()
    try:
        with dask.config.set({"distributed.comm.timeouts.connect": "%ds" % CONNECT_SECONDS}):
            return Client(address, timeout=CONNECT_SECONDS)
    except ValueError as error:  # an address Dask cannot parse
        raise CliError("'%s' is not a Dask scheduler address: %s" % (address, error))
    except (OSError, IOError) as error:
        if time.time() - started >= CONNECT_SECONDS:
            raise CliError("cannot reach the Dask scheduler at %s: no answer within %d s"
                           % (address, CONNECT_SECONDS))
        raise CliError("cannot reach the Dask scheduler at %s: %s" % (address, error))


def _refuse_closed_port(address):
    """Dask retries a refused connection until its time runs out; one plain
    connection attempt tells at once that nothing listens there."""
    import socket
    from distributed.comm.addressing import parse_address, parse_host_port
    try:
        scheme, location = parse_address(address)
        host, port = parse_host_port(location)
    except ValueError as error:
        raise CliError("'%s' is not a Dask scheduler address: %s" % (address, error))
    if scheme not in ("tcp", "tls", "ws", "wss"):
        return
    try:
        socket.create_connection((host, port), timeout=CONNECT_SECONDS).close()
    except socket.timeout:
        raise CliError("cannot reach the Dask scheduler at %s: no answer within %d s" % (address, CONNECT_SECONDS))
    except (OSError, IOError) as error:
        raise CliError("cannot reach the Dask scheduler at %s: %s" % (address, error.strerror or error))


def _local_cluster(LocalCluster, workers):
    """Starts a local cluster of `workers` processes. A signal during the
    start raises Interrupted here, once the half-started cluster, which
    Dask has not handed back yet, is gone."""
    from distributed.deploy.spec import SpecCluster
    before = set(SpecCluster._instances)
    try:
        with warnings.catch_warnings(), _quiet_worker_logs():
            # The scheduler's status port falls back to a free one.
            warnings.filterwarnings("ignore", message="Port .* is already in use")
            return LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None,
                                silence_logs=logging.ERROR, preload=["orvo.cli.scale_out_worker"])
    except BaseException:
        for cluster in set(SpecCluster._instances) - before:
            _abandon(cluster)
        raise


def _abandon(cluster):
    """Ends a cluster caught half-started, which Dask cannot close: its
    event loop (with the scheduler and the nannies that would restart
    their workers) stops, then its worker processes are killed before
    they print tracebacks about the nannies gone under them. The command
    is ending: what the stopped loop leaves behind (its pending tasks,
    reported as they are collected) is not worth a word."""
    cluster.shutdown_on_close = False  # nothing left for Dask to close at exit
    logging.getLogger("asyncio").disabled = True
    warnings.simplefilter("ignore")
    try:
        cluster._loop_runner.stop(timeout=STOP_SECONDS)
    except Exception:
        pass
    for process in multiprocessing.active_children():
        process.kill()
        process.join(STOP_SECONDS)


@contextlib.contextmanager
def _quiet_cluster_library():
    """The cluster library logs its own view of failures (a lost scheduler,
    a closed connection, with tracebacks) that this command reports in one
    line of its own; the command itself does not log."""
    logging.disable(logging.CRITICAL)
    try:
        yield
    finally:
        logging.disable(logging.NOTSET)


@contextlib.contextmanager
def _quiet_worker_logs():
    """Worker processes started meanwhile log only errors (their set-up is
    logged before the cluster's own setting reaches them)."""
    previous = os.environ.get(WORKER_LOG_LEVEL)
    os.environ[WORKER_LOG_LEVEL] = "error"
    try:
        yield
    finally:
        if previous is None:
            del os.environ[WORKER_LOG_LEVEL]
        else:
            os.environ[WORKER_LOG_LEVEL] = previous


class _ThreadProgress(object):
    """The progress of a conversion run from a thread other than the main
    one, where signals cannot be caught: it only counts."""
    signal_number = None
    interrupted = False

    def __enter__(self):
        return self

    def __exit__(self, *exc_info):
        return False

    def frame_written(self, index):
        return 0


def _progress(total, label, quiet):
    if threading.current_thread() is threading.main_thread():
        return Progress(total, label, quiet)
    return _ThreadProgress()


def _codec(job):
    from .codecs import codec_by_name
    return codec_by_name(job["codec"])


def _key_interval(options):
    from .outputs import option_value
    try:
        return max(1, int(option_value(options or "", "keyint") or 1))
    except ValueError:
        return 1


def _modification_time(name):
    try:
        return os.stat(name).st_mtime_ns
    except OSError:
        return None


def _modification_times(names):
    return dict((name, _modification_time(name)) for name in names)


def _touch(name):
    try:
        with open(name, "w"):
            pass
    except (IOError, OSError):
        pass


def _remove(name):
    try:
        os.remove(name)
    except OSError:
        pass
