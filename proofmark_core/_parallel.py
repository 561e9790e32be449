"""A function mapped over a stream in worker processes, results in input order.

Only a few items are in flight at a time, so memory stays bounded whatever the length
of the stream, and results stream out as soon as each one's turn comes.
"""

from __future__ import annotations

import itertools
import multiprocessing
import os
import sys
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from concurrent.futures import Future, ProcessPoolExecutor
from typing import TypeVar

T = TypeVar("T")
R = TypeVar("R")
# Items queued per worker: enough to keep every worker busy while results are written.
IN_FLIGHT_PER_JOB = 3


def cores() -> int:
    """The cores this process may run on."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # not on Linux
        return os.cpu_count() or 1


def _context() -> multiprocessing.context.BaseContext:
    # Forked workers start at once with the modules this process has imported; a
    # started interpreter would import them anew, and from the working directory first
    # when that is a checkout. The pool forks before it starts a thread of its own.
    if sys.platform == "linux":
        return multiprocessing.get_context("fork")
    return multiprocessing.get_context("spawn")


def ordered_map(function: Callable[[T], R], items: Iterable[T], jobs: int) -> Iterator[R]:
    """``map(function, items)``, computed in ``jobs`` processes when there is more than
    one item and one job."""
    items = iter(items)
    head = list(itertools.islice(items, 2))
    if jobs <= 1 or len(head) < 2:
        yield from map(function, itertools.chain(head, items))
        return
    pool = ProcessPoolExecutor(jobs, mp_context=_context())
    try:
        pending: deque[Future[R]] = deque()
        for item in itertools.chain(head, items):
            pending.append(pool.submit(function, item))
            if len(pending) >= jobs * IN_FLIGHT_PER_JOB:
                yield pending.popleft().result()
        while pending:
            yield pending.popleft().result()
    finally:
        pool.shutdown(cancel_futures=True)
