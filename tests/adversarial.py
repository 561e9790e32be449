"""Texts built to hit the corners of the patterns: their own vocabulary, every kind
of whitespace, letters that re.I or str.lower treat specially, digits of other
scripts, quotes, back-quotes, separators."""

from hypothesis import strategies as st

VOCABULARY = """0 hit hits no matches results nothing found return returns empty add added adds creat
new introduc set up wrote write bump enable install don't dont do not never without didn't didnt
did is are was were has have had does show shows showed log logs logged returned throw threw crash
crashed work worked match matching equals read reads come came goes went gets got gives gave contains
includes means needs takes took uses used renders reports prints says said looks appears read_file
search_files grep cat ls find head tail sqlite3.connect select sed -i -n tee cp scp mv rsync ln chmod
touch mkdir git commit push rm kill pkill systemctl docker pip npm apt less rg px fps ms s % mb gb kb
bytes chars rows layers and then AND x X 3x v2 e2e 1,000 3.14 a.py :12 -3 .. -> / , ; = _ - . ' " `
~ ≈ → < > >> << () key = value src/app.py""".split()
SPECIAL = list(" \t\n\r\x0b\x0c\x1c\x1d\x1e\x1f\x85\xa0\u1680\u2000\u2028\u2029\u202f\u3000\u200b") + list(
    "\u0130\u0131\u017f\u212a\u212b\u03a3\u03c3\u03c2\u00df\u0660\u0663\u06f5\u0966\uff11\u00b2\u00b9"
    "\u2460\u0301\u0307\u0345\u2013\u2014\u2019\u00b7\U0001d7ce\U00010400\ud800\udc00")
ATOM = st.one_of(st.sampled_from(VOCABULARY), st.sampled_from(SPECIAL), st.characters(),
                 st.sampled_from("aeiksx019 "))


def _cased(word):
    return st.sampled_from([word, word.upper(), word.title(), word.replace("i", "\u0130"),
                            word.replace("i", "\u0131"), word.replace("s", "\u017f"),
                            word.replace("k", "\u212a"), word.replace("S", "\u03a3")])


TEXT = st.lists(ATOM.flatmap(_cased), max_size=12).map("".join)
