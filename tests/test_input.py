"""Reading records in chunks of any size gives what reading the whole input gives."""

import codecs
import io
import json
import os
import subprocess
import sys
import tempfile

import pytest
from hypothesis import given, strategies as st

from proofmark_core.records import input as _input, spool as _spool

JSON_VALUES = st.recursive(
    st.none() | st.booleans() | st.integers() | st.floats(allow_nan=False) | st.text(),
    lambda inner: st.lists(inner, max_size=4) | st.dictionaries(st.text(), inner, max_size=4),
    max_leaves=12,
)
LAYOUTS = st.sampled_from([{}, {"indent": 2}, {"separators": (",", ":")}])


def read(data, chunk, monkeypatch):
    monkeypatch.setattr(_input, "CHUNK", chunk)
    stream = io.BufferedReader(io.BytesIO(data), buffer_size=max(chunk, 1))
    return list(_input.read_records(stream, jsonl=False))


@given(st.lists(JSON_VALUES, min_size=1, max_size=5), LAYOUTS, st.integers(1, 9))
def test_a_list_read_in_small_chunks_gives_its_elements(values, layout, chunk):
    with pytest.MonkeyPatch.context() as monkeypatch:
        items = read(json.dumps(values, **layout).encode(), chunk, monkeypatch)
    assert [item.error for item in items] == [None] * len(values)
    assert [item.value for item in items] == values
    assert [item.line for item in items] == sorted(item.line for item in items)


@given(st.lists(JSON_VALUES, min_size=1, max_size=3), st.data(), st.integers(1, 9))
def test_a_list_cut_anywhere_ends_in_one_error_and_never_raises(values, data, chunk):
    text = json.dumps(values).encode()
    cut = data.draw(st.integers(1, len(text) - 1))
    with pytest.MonkeyPatch.context() as monkeypatch:
        items = read(text[:cut], chunk, monkeypatch)
    *read_whole, last = items
    assert last.error.endswith("; the rest of the input is not read")
    assert all(item.error is None for item in read_whole)
    # The cut may have shortened a number that still reads as one.
    assert [item.value for item in read_whole][:-1] == values[:len(read_whole)][:-1]


@given(st.lists(st.dictionaries(st.text(), JSON_VALUES, max_size=3), min_size=1, max_size=4),
       st.integers(1, 9))
def test_json_lines_read_in_small_chunks_give_one_record_per_line(records, chunk):
    text = "".join(json.dumps(record) + "\n" for record in records).encode()
    with pytest.MonkeyPatch.context() as monkeypatch:
        items = read(text, chunk, monkeypatch)
    assert [(item.line, item.value) for item in items] == list(enumerate(records, 1))


LINE_PARTS = st.sampled_from([b'{"a": 1}', b'{"b": "\xc3\xa9"}', b"", b" \t", b"\r", b"{bad",
                              b'{"c": [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12]}'])


@given(st.lists(LINE_PARTS, max_size=8), st.booleans(), st.booleans(), st.integers(1, 9))
def test_lines_left_in_their_file_read_as_the_lines_themselves(parts, bom, newline_at_end,
                                                              chunk):
    data = (codecs.BOM_UTF8 if bom else b"") + b"\n".join(parts) + (b"\n" if newline_at_end
                                                                     else b"")
    with tempfile.TemporaryDirectory() as folder, pytest.MonkeyPatch.context() as monkeypatch:
        path = os.path.join(folder, "turns.jsonl")
        with open(path, "wb") as out:
            out.write(data)
        monkeypatch.setattr(_input, "SPAN_CHUNK", chunk)
        in_place = [_input.decoded(item) for item in _input.line_spans(path)]
    stream = io.BufferedReader(io.BytesIO(data))
    assert in_place == list(_input.read_records(stream, jsonl=True))


def test_a_line_whose_file_was_cut_since_is_an_error(tmp_path):
    path = tmp_path / "turns.jsonl"
    path.write_bytes(b'{"a": 1}\n{"b": 2}\n')
    items = list(_input.line_spans(str(path)))
    path.write_bytes(b'{"a": 1}\n')
    assert _input.decoded(items[1]).error == "the file changed while it was read (line at byte 9)"


needs_memory_files = pytest.mark.skipif(not _spool.spooling(), reason="no memory files here")


@needs_memory_files
@given(st.lists(LINE_PARTS, max_size=8), st.booleans(), st.booleans(), st.integers(1, 9),
       st.integers(1, 40))
def test_lines_put_in_memory_files_read_as_the_lines_themselves(parts, jsonl, newline_at_end,
                                                                chunk, segment):
    data = b"\n".join(parts) + (b"\n" if newline_at_end else b"")
    with pytest.MonkeyPatch.context() as monkeypatch:
        monkeypatch.setattr(_input, "SPAN_CHUNK", chunk)
        monkeypatch.setattr(_spool, "SEGMENT", segment)
        stream = io.BufferedReader(io.BytesIO(data), buffer_size=chunk)
        spooled = [_input.decoded(item) for item in
                   _input.read_records(stream, jsonl=jsonl, spool=_spool.spooled_lines)]
    stream = io.BufferedReader(io.BytesIO(data))
    assert spooled == list(_input.read_records(stream, jsonl=jsonl))


def open_files():
    """The memory files this process holds open."""
    fds = os.listdir("/proc/self/fd")  # one of which was listdir's own, closed since
    return sum(os.path.exists(f"/proc/self/fd/{fd}") and
               os.readlink(f"/proc/self/fd/{fd}").startswith("/memfd:proofmark-lines")
               for fd in fds)


@needs_memory_files
def test_memory_files_close_with_the_last_span_of_each(monkeypatch):
    monkeypatch.setattr(_spool, "SEGMENT", 100)
    lines = [b'{"n": %d}\n' % n for n in range(300)]
    # Spans dropped as they come: two files at most are open at a time.
    assert max(open_files() for _ in _spool.spooled_lines(lines)) <= 2
    spans = [item.value for item in _spool.spooled_lines(lines)]
    assert open_files() == len({span.path for span in spans}) > 10
    del spans
    assert open_files() == 0


# Run in a process of its own: forking the test runner's threads is unsafe.
FORKED_WORKER = """
import os
from proofmark_core.records import input as _input, spool as _spool
item = next(_spool.spooled_lines([b'{"a": 1}\\n']))
pid = os.fork()
if pid == 0:
    try:
        os.fstat(item.value.segment.fd)
    except OSError:
        os._exit(0 if _input.decoded(item).value == {"a": 1} else 1)
    os._exit(2)
raise SystemExit(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]))
"""


@needs_memory_files
def test_a_forked_worker_reads_the_spans_and_holds_no_memory_file_open():
    assert subprocess.run([sys.executable, "-c", FORKED_WORKER]).returncode == 0
