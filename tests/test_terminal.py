"""Display width in terminal columns, and cutting and padding text by it."""

import pytest

from proofmark_core.report.terminal import display_width, pad, shorten

WIDE = "日本語のテキスト"            # 8 wide characters: 16 columns
COMBINING = "e\u0301" * 6             # é written as e and a combining acute: 6 columns
HANGUL = "\u1100\u1161\u11a8" * 3      # three decomposed syllables: 6 columns


@pytest.mark.parametrize("text, width", [
    ("plain ascii", 11), (WIDE, 16), (COMBINING, 6), (HANGUL, 6),
    ("ｆｕｌｌ", 8), ("a\u200db\u200e", 2), ("soft\u00adhyphen", 11), ("👍 ok", 5),
])
def test_display_width_counts_terminal_columns(text, width):
    assert display_width(text) == width


@pytest.mark.parametrize("text, width, shown", [
    (WIDE, 16, WIDE),
    (WIDE, 7, "日本語\u2026"),
    (WIDE, 8, "日本語\u2026"),            # a wide character never straddles the limit
    (COMBINING, 4, "e\u0301" * 3 + "\u2026"),  # marks stay with their letter
    ("abcdef", 4, "abc\u2026"),
])
def test_shorten_cuts_by_columns_and_pad_fills_them(text, width, shown):
    assert shorten(text, width) == shown
    assert display_width(pad(shorten(text, width), width)) == width
