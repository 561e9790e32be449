"""Reading records in chunks of any size gives what reading the whole input gives."""

import io
import json

import pytest
from hypothesis import given, strategies as st

from proofmark_core import _input

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
