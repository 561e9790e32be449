"""The gzip reader gives what the standard library gives, and names what is wrong."""

import gzip
import threading
import zlib

import pytest

from proofmark_core.records import gunzip as _gunzip
from proofmark_core.records.gunzip import open_gzip

# The standard library's inflate, and the faster one the module takes when installed.
INFLATES = [zlib, _gunzip.zlib] if _gunzip.zlib is not zlib else [zlib]
AHEAD = pytest.mark.parametrize("ahead", [False, True], ids=["in the reader", "ahead"])

LINES = b"".join(b'{"n": %d, "text": "%s"}\n' % (n, b"x" * (n % 97)) for n in range(5000))


@pytest.mark.parametrize("data", [
    gzip.compress(LINES),
    gzip.compress(b"a\n") + gzip.compress(b"") + b"\0" * 9 + gzip.compress(LINES),
    b"",
], ids=["one member", "members and padding", "empty"])
@AHEAD
def test_reads_what_gzip_reads_in_small_steps(data, ahead, tmp_path, monkeypatch):
    monkeypatch.setattr(_gunzip, "INPUT_STEP", 101)
    monkeypatch.setattr(_gunzip, "OUTPUT_STEP", 1000)
    path = tmp_path / "data.gz"
    path.write_bytes(data)
    with open_gzip(path, ahead) as stream:
        assert stream.read() == gzip.decompress(data)


PACKED = gzip.compress(LINES, mtime=0)


@pytest.mark.parametrize("data, message", [
    (PACKED[:len(PACKED) // 2], "the compressed data ends before its end marker"),
    (PACKED[:20] + b"\xff" * 64 + PACKED[84:], "invalid compressed data"),
    (b"not gzip at all", "not a gzip file"),
    (gzip.compress(b"a\n", mtime=0) + b"trailing", "not a gzip file"),
    # The member ends in a step that a full output left for later, and bytes follow.
    (PACKED + b"trailing", "not a gzip file"),
    (PACKED[:-8] + b"\0\0\0\0" + PACKED[-4:], "incorrect data check"),
], ids=["cut short", "corrupt", "not gzip", "trailing bytes", "trailing after full steps",
        "wrong checksum"])
@pytest.mark.parametrize("inflate", INFLATES, ids=lambda module: module.__name__)
@AHEAD
def test_a_broken_file_is_an_os_error_that_says_why(data, message, inflate, ahead, tmp_path,
                                                    monkeypatch):
    monkeypatch.setattr(_gunzip, "zlib", inflate)
    monkeypatch.setattr(_gunzip, "OUTPUT_STEP", 1000)
    path = tmp_path / "data.gz"
    path.write_bytes(data)
    with open_gzip(path, ahead) as stream, pytest.raises(gzip.BadGzipFile, match=message):
        stream.read()


def test_a_reader_ahead_closed_early_stops_its_thread(tmp_path, monkeypatch):
    monkeypatch.setattr(_gunzip, "OUTPUT_STEP", 1000)
    path = tmp_path / "data.gz"
    path.write_bytes(PACKED)
    with open_gzip(path, ahead=True) as stream:
        assert stream.read(10) == LINES[:10]
    assert not any(thread.name == "proofmark-gunzip" for thread in threading.enumerate())
