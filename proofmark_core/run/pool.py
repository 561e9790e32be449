"""A function mapped over a stream in worker processes, results in input order.

Items travel in batches of about ``BATCH_WEIGHT`` (as the caller weighs them), so that
small items do not each pay for a trip to a worker. Only a few batches are in flight
at a time, so memory stays bounded whatever the length of the stream, and results
stream out as soon as each one's turn comes.
"""

from __future__ import annotations

import contextlib
import gc
import itertools
import math
import os
import signal
import sys
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from typing import TYPE_CHECKING, TypeVar

if TYPE_CHECKING:
    import multiprocessing.context
    from concurrent.futures import Future

T = TypeVar("T")
R = TypeVar("R")
# Batches queued per worker: enough to keep every worker busy while results are written.
IN_FLIGHT_PER_JOB = 3
# A batch closes once its items weigh this much, or hold this many items.
BATCH_WEIGHT = 1 << 20
BATCH_ITEMS = 256
# A cgroup's CPU quota: version 2 ("quota period"), else version 1.
CPU_MAX = "/sys/fs/cgroup/cpu.max"
CFS_QUOTA = "/sys/fs/cgroup/cpu/cpu.cfs_quota_us"
CFS_PERIOD = "/sys/fs/cgroup/cpu/cpu.cfs_period_us"


class WorkerDied(RuntimeError):
    """A worker process ended before it gave back its results (killed, or out of
    memory). ``items`` are those of the first batch whose results never came; the
    message is the error of the first of them."""

    def __init__(self, items: list[object]) -> None:
        super().__init__("a worker process ended before it gave back its results "
                         "(killed, or out of memory?); this turn and those after it are "
                         "not checked")
        self.items = items


def cores() -> int:
    """The cores this process may run on, but no more than its CPU quota (a
    container's limit) lets it keep busy at once."""
    try:
        count = len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1
    quota = _cpu_quota()
    return count if quota is None else max(1, min(count, math.ceil(quota)))


def _cpu_quota() -> float | None:
    """The processors' worth of time that this process's cgroup may use, if limited."""
    limit = _first_line(CPU_MAX) or f"{_first_line(CFS_QUOTA)} {_first_line(CFS_PERIOD)}"
    try:
        quota, period = map(int, limit.split())
        return quota / period if quota > 0 else None
    except (ValueError, ZeroDivisionError):  # "max": no limit
        return None


def _first_line(path: str) -> str:
    try:
        with open(path) as file:
            return file.readline().strip()
    except OSError:
        return ""


def _context() -> multiprocessing.context.BaseContext:
    import multiprocessing

    # Forked workers start at once with the modules this process has imported; a
    # started interpreter would import them anew, and from the working directory first
    # when that is a checkout. The pool forks before it starts a thread of its own.
    if sys.platform == "linux":
        return multiprocessing.get_context("fork")
    return multiprocessing.get_context("spawn")


def ordered_map(function: Callable[[T], R], items: Iterable[T], jobs: int,
                weight: Callable[[T], int] = lambda item: BATCH_WEIGHT) -> Iterator[R]:
    """``map(function, items)``, computed in ``jobs`` processes when there is more than
    one item and one job. By default every item is a batch of its own."""
    items = iter(items)
    head = list(itertools.islice(items, 2))
    if jobs <= 1 or len(head) < 2:
        yield from map(function, _handed_on(head, items))
        return
    # Imported only here: a run of one item or one job starts faster without them.
    from concurrent.futures import ProcessPoolExecutor
    from concurrent.futures.process import BrokenProcessPool

    # No more workers than there are batches for them: starting thousands of
    # processes for a few batches would take longer than the work.
    batches = _batches(_handed_on(head, items), weight)
    first = list(itertools.islice(batches, jobs))
    jobs = len(first)
    # What this process holds is never visited by the workers' garbage collections,
    # which would otherwise copy every page of it into each forked worker.
    gc.freeze()
    pool = ProcessPoolExecutor(jobs, mp_context=_context(), initializer=_leave_interrupts)
    try:
        pending: deque[tuple[list[T], Future[list[R]]]] = deque()
        for batch in _handed_on(first, batches):
            try:
                with _interrupts_held():
                    pending.append((batch, pool.submit(_map_batch, function, batch)))
            except BrokenProcessPool:
                raise WorkerDied(list(pending[0][0] if pending else batch)) from None
            if len(pending) >= jobs * IN_FLIGHT_PER_JOB:
                yield from _results(*pending.popleft())
        while pending:
            yield from _results(*pending.popleft())
    finally:
        pool.shutdown(cancel_futures=True)
        gc.unfreeze()


def _handed_on(head: list[T], rest: Iterator[T]) -> Iterator[T]:
    """The items of the head, then the rest; the head lets each go as it hands it on,
    so that a large first item is not held to the end of the run."""
    while head:
        yield head.pop(0)
    yield from rest


def _leave_interrupts() -> None:
    """Ctrl-C reaches every process of the terminal's group; this one, which shuts the
    pool down, answers it, not each worker with a traceback of its own."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if hasattr(signal, "pthread_sigmask"):
        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})  # held since the fork


@contextlib.contextmanager
def _interrupts_held() -> Iterator[None]:
    """Ctrl-C held back while a batch is handed over, which may start the workers: a
    worker forked then starts with it blocked until it ignores it, and this process
    takes it once the workers have started, not inside the fork's own handlers or the
    start of the pool's thread (where it was lost, or left the pool half started)."""
    if not hasattr(signal, "pthread_sigmask"):
        yield
        return
    held = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_SETMASK, held)


def _batches(items: Iterator[T], weight: Callable[[T], int]) -> Iterator[list[T]]:
    batch: list[T] = []
    total = 0
    for item in items:
        batch.append(item)
        total += weight(item)
        if total >= BATCH_WEIGHT or len(batch) >= BATCH_ITEMS:
            yield batch
            batch, total = [], 0
    if batch:
        yield batch


def _results(batch: list[T], future: Future[list[R]]) -> list[R]:
    from concurrent.futures.process import BrokenProcessPool

    try:
        return future.result()
    except BrokenProcessPool:
        raise WorkerDied(list(batch)) from None


def _map_batch(function: Callable[[T], R], batch: list[T]) -> list[R]:
    return list(map(function, batch))
