// The native twins: the matchers of rx/ over a str's storage, and the new strs
// or lists that the substitutions and splits return.
#include "analysis/twins.hpp"

#include <vector>

#include "analysis/rx/commands.hpp"
#include "analysis/rx/numbers.hpp"
#include "analysis/rx/phrases.hpp"
#include "analysis/rx/shapes.hpp"
#include "analysis/rx/spacing.hpp"

namespace pm {
namespace {

Ref str_of(const std::vector<Py_UCS4>& chars) {
  return require(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, chars.data(),
                                           static_cast<Py_ssize_t>(chars.size())));
}

// s without its characters [from, to).
Ref without(PyObject* s, Py_ssize_t from, Py_ssize_t to) {
  if (from == to) return Ref::borrow(s);
  Ref head = require(PyUnicode_Substring(s, 0, from));
  Ref tail = require(PyUnicode_Substring(s, to, PyUnicode_GET_LENGTH(s)));
  return require(PyUnicode_Concat(head.get(), tail.get()));
}

// The list of s[from:to] for every piece f reports.
template <class Pieces>
Ref list_of_pieces(PyObject* s, Pieces&& pieces) {
  Ref out = require(PyList_New(0));
  pieces([&](Py_ssize_t from, Py_ssize_t to) {
    Ref piece = require(PyUnicode_Substring(s, from, to));
    require_ok(PyList_Append(out.get(), piece.get()));
  });
  return out;
}

template <class F>
decltype(auto) over(PyObject* s, F&& f) {
  return with_chars(view_of(s), f);
}

bool empty_search(TextView t) { return with_chars(t, [](auto c) { return rx::empty_search(c); }); }
bool read_code_search(TextView t) {
  return with_chars(t, [](auto c) { return rx::read_code_search(c); });
}
bool shell_write_search(TextView t) {
  return with_chars(t, [](auto c) { return rx::shell_write_search(c); });
}
bool negated_search(TextView t) {
  return with_chars(t, [](auto c) { return rx::negated_search(c); });
}
bool predicate_search(TextView t) {
  return with_chars(t, [](auto c) { return rx::predicate_search(c); });
}
bool num_match(TextView t) { return with_chars(t, [](auto c) { return rx::num_match(c); }); }

}  // namespace

NativeTest native_search(Name pattern) {
  switch (pattern) {
    case Name::EMPTY_RE: return empty_search;
    case Name::READ_CODE_RE: return read_code_search;
    case Name::SHELL_WRITE_RE: return shell_write_search;
    case Name::NEGATED_RE: return negated_search;
    case Name::PREDICATE_RE: return predicate_search;
    default: return nullptr;
  }
}

NativeTest native_match(Name pattern) { return pattern == Name::NUM_RE ? num_match : nullptr; }

namespace twin {

Ref collapse_spaces(PyObject* s) {
  std::vector<Py_UCS4> out;
  over(s, [&](auto c) { rx::collapse_spaces(c, out); });
  return str_of(out);
}

Ref drop_final_x(PyObject* s) {
  Py_ssize_t x = over(s, [](auto c) { return rx::final_x_after_digit(c); });
  return x < 0 ? Ref::borrow(s) : without(s, x, x + 1);
}

bool key_value(TextView s) {
  return with_chars(s, [](auto c) { return rx::key_value_fullmatch(c); });
}

Ref split_non_word(PyObject* s) {
  // The pieces between runs of non-word characters: the word runs, with an
  // empty piece before a leading run and after a trailing one.
  return list_of_pieces(s, [&](auto&& add) {
    over(s, [&](auto c) {
      Py_ssize_t piece = 0, i = 0;
      while (i < c.n) {
        if (rx::is_word(c[i])) {
          ++i;
          continue;
        }
        Py_ssize_t end = i;
        while (end < c.n && !rx::is_word(c[end])) ++end;
        add(piece, i);
        piece = i = end;
      }
      add(piece, c.n);
    });
  });
}

Ref blank_backtick_spans(PyObject* s) {
  std::vector<Py_UCS4> out;
  over(s, [&](auto c) { rx::blank_backtick_spans(c, out); });
  return str_of(out);
}

bool read_command(TextView s) {
  return with_chars(s, [](auto c) { return rx::read_command_match(c); });
}

bool search_command(TextView s) {
  return with_chars(s, [](auto c) { return rx::search_command_search(c); });
}

Ref drop_approx_marks(PyObject* s) {
  std::vector<Py_UCS4> out;
  over(s, [&](auto c) {
    for (Py_ssize_t i = 0; i < c.n; ++i) {
      if (!rx::approx_mark_at(c, i)) out.push_back(c[i]);
    }
  });
  return str_of(out);
}

Ref drop_line_suffix(PyObject* s) {
  Py_ssize_t from = 0, to = 0;
  bool found = over(s, [&](auto c) { return rx::line_suffix(c, &from, &to); });
  return found ? without(s, from, to) : Ref::borrow(s);
}

bool composite(TextView s) {
  return with_chars(s, [](auto c) { return rx::composite_search(c); });
}

Ref split_atoms(PyObject* s) {
  return list_of_pieces(s, [&](auto&& add) {
    over(s, [&](auto c) { rx::split_atoms(c, add); });
  });
}

Ref drop_letter_before_digit(PyObject* s) {
  Py_ssize_t n = over(s, [](auto c) { return rx::letter_before_digit(c); });
  return without(s, 0, n);
}

Ref drop_unit(PyObject* s) {
  Py_ssize_t number_end = 0, rest = 0;
  bool found = over(s, [&](auto c) { return rx::number_with_unit(c, &number_end, &rest); });
  return found ? without(s, number_end, rest) : Ref::borrow(s);
}

bool extension(TextView s) {
  return with_chars(s, [](auto c) { return rx::extension_search(c); });
}

}  // namespace twin
}  // namespace pm
