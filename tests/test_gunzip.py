"""The gzip reader gives what the standard library gives, and names what is wrong."""

import gzip

import pytest

from proofmark_core.records import gunzip as _gunzip
from proofmark_core.records.gunzip import open_gzip

LINES = b"".join(b'{"n": %d, "text": "%s"}\n' % (n, b"x" * (n % 97)) for n in range(5000))


@pytest.mark.parametrize("data", [
    gzip.compress(LINES),
    gzip.compress(b"a\n") + gzip.compress(b"") + b"\0" * 9 + gzip.compress(LINES),
    b"",
], ids=["one member", "members and padding", "empty"])
def test_reads_what_gzip_reads_in_small_steps(data, tmp_path, monkeypatch):
    monkeypatch.setattr(_gunzip, "INPUT_STEP", 101)
    monkeypatch.setattr(_gunzip, "OUTPUT_STEP", 1000)
    path = tmp_path / "data.gz"
    path.write_bytes(data)
    with open_gzip(path) as stream:
        assert stream.read() == gzip.decompress(data)


PACKED = gzip.compress(LINES, mtime=0)


@pytest.mark.parametrize("data, message", [
    (PACKED[:len(PACKED) // 2], "the compressed data ends before its end marker"),
    (PACKED[:20] + b"\xff" * 64 + PACKED[84:], "invalid compressed data"),
    (b"not gzip at all", "not a gzip file"),
    (gzip.compress(b"a\n", mtime=0) + b"trailing", "not a gzip file"),
], ids=["cut short", "corrupt", "not gzip", "trailing bytes"])
def test_a_broken_file_is_an_os_error_that_says_why(data, message, tmp_path):
    path = tmp_path / "data.gz"
    path.write_bytes(data)
    with open_gzip(path) as stream, pytest.raises(gzip.BadGzipFile, match=message):
        stream.read()
