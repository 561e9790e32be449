"""A cap on a child's address space, so that a test of endless input fails instead of
taking the machine's memory.

Under AddressSanitizer (the library preloaded) there is no cap: its shadow memory
reserves terabytes of address space at start, which any cap would refuse. The size
limits of the command still bound what it reads.
"""
import os
import resource


def capped(limit):
    """A function for ``preexec_fn`` that caps the child's address space at ``limit``."""
    if "libasan" in os.environ.get("LD_PRELOAD", ""):
        return None

    def cap():
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    return cap
