#!/usr/bin/env python3
"""Writes the seed corpora in fuzz/corpus/<target>/ (run from anywhere).

Seeds are small, well-formed inputs plus a few broken ones, so that the
fuzzers start from every part of each input format. Sections of an input are
separated by a line holding only "%%" (see fuzz/engine_targets.h).
"""
import os

here = os.path.dirname(os.path.abspath(__file__))
examples = os.path.join(here, "..", "examples", "invoices")
SEP = b"\n%%\n"


def example(name):
    with open(os.path.join(examples, name), "rb") as f:
        return f.read()


def write(target, name, data):
    d = os.path.join(here, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode("latin-1"))


def pad(s, n):
    return (s + " " * n)[:n]


# ---- form definitions
write("form", "example", example("fac"))
write("form", "documented", "4 2 2 0\n1 10 6 50 clients.db 80 6 30\n2 10 20 40 0 36 20\n"
      "3 10 10 0\n4 10 12 30\n6 1 8 0\n6 10 10 3\n7 1 8 0\n7 10 10 3\n")
write("form", "no_lines", "3 0 0 0\n1 1 6 0\n1 1 10 3\n1 1 4 35\n")
write("form", "later_lines_no_extras", "1 2 2 0\n1 1 4 0\n1 1 3 51 a.db 9 3 4\n1 1 5 41 0 3 4\n"
      "1 1 3 51\n1 1 5 41\n")
write("form", "two_keys_one_table", "2 0 0 0\n1 1 6 50 a.db 10 6 4\n1 1 6 50 b.db 20 2 2\n")
write("form", "truncated", "3 3 2 0\n1 1 6 0\n1 10")
write("form", "word_for_number", "3 3 2 0\n1 1 6 0\n1 10 ten 3\n")
write("form", "out_of_range", "1 0 0 0\n1 1 40000 0\n")
write("form", "negative", "1 -1 0 0\n")
write("form", "huge_counts", "100001 99999999999 0 0\n")
write("form", "empty", "")

# ---- formula files with field values: file %% header fields %% line 0 %% line 1
write("formula", "example", "h03 h01 h02 +\nh04 h01 h01 h02 * 100 / -\nh05 h04 h03 /\n"
      "d02 d01 h01 *\nd03 d02 2 -\n" + "\n%%\n" + "A00001\n125.50\n-20\n\n\n\nx\n7.5"
      + "\n%%\n" + "A001\n3\n" + "\n%%\n" + "B002\n0.5\n")
write("formula", "divide_by_zero", "h03 h01 0 /\nh04 h01 -0 /\nh05 1 2 3 4 + + + +\n%%\nX\n7\n")
write("formula", "crlf_and_empty_lines", "h03 h01 h02 *\r\n\r\n\nh04 1 2 +\r\nd02 d01 d01 *\r\n%%\n"
      "a\n2\n3\n%%\na\n4\n")
write("formula", "odd_targets", "h3 h01\nh-1 5\nh 4 1 2 +\nd99 1\nx05 1\nh\n h05 2\nh05 h0x h 1 h\n")
write("formula", "long_numbers", "h03 " + "9" * 400 + " 0.000000000000000000000001 *\nh04 1e5 . .5 5. +\n")
write("formula", "self_reference", "h03 h03 1 +\nh04 h05 2 *\nh05 h04 h03 -\nd02 d02 d03 +\n"
      "d03 d02 1 +\n%%\n\n%%\na\n1\n")
write("formula", "nul_byte", b"h03 1 2 +\x00 9 *\nh04 3\n")
write("formula", "empty", "")

# ---- whole stores: control %% INFO %% HEAD %% DOC %% H %% table A %% its index %% table B %% its index


def store(control, info, head, doc, h, tables):
    parts = [control, info, head, doc, h] + tables
    return SEP.join(p if isinstance(p, bytes) else p.encode("latin-1") for p in parts)


fac = [example("clients.db"), example("clients"), example("articles.db")]
write("store", "example", store(b"\x00", example("INFO"), example("HEAD"), example("DOC"),
                                example("H"), fac))
write("store", "example_shortcut", store(b"\x00h00;000107\th01;\td01;", example("INFO"),
                                         example("HEAD"), example("DOC"), example("H"), fac))
write("store", "example_search", store(b"\x00h00;\td00;\td01;tornillo\td04", example("INFO"),
                                       example("HEAD"), example("DOC"), example("H"), fac))
write("store", "example_count_beyond_head", store(b"\x00", "          40", example("HEAD")[:200],
                                                  example("DOC")[:100], example("H"), fac))
write("store", "example_no_count", store(b"\x00", "  x", example("HEAD"), example("DOC"), "", fac))

# Form "mix": header 0 code (4), 1 key (3) into t.db, 2 derived from u.db,
# 3 type 33, 4 calculated, 5 amount (5); lines of widths 3+5, 2+5, 3+5.
# L_h = 18 + 1 + 12 = 31; L_d = 6 + 8 = 14.
def mix_head(code, key, amount, pointers):
    return pad(code, 4) + pad(key, 3) + pad(amount, 5) + "".join("%6s" % p for p in pointers) + "\n"


mix_heads = (mix_head("AB01", "k01", "12.5", [0, 1, -1]) + mix_head("AB02", "zzz", "-3", [-1, -1, -1])
             + mix_head("AB03", "k02", "", [2, "", 999999]) + mix_head("AB04", "k01", "1", [" -0", 3, 0]))
mix_docs = "".join(pad(k, 3) + pad(q, 5) + "trail\n" for k, q in
                   [("u01", "2"), ("u02", "x"), (" u1", "3"), ("u9\n", "4")])
t_db = "k01Name1Cty1\n" + "k02Name2Cty2\n" + "k0"
u_db = "u01Uu1Uuuu\n" + "u02Vv2\0Vvv\n"
write("store", "mix", store(b"\x01", "4", mix_heads, mix_docs, "AB01AB02AB03AB04",
                            [t_db, "k01k02", u_db, "u01u02"]))
write("store", "mix_no_index", store(b"\x01h01;k0\th02;", "           4", mix_heads, mix_docs, "AB0",
                                     [t_db, "", u_db]))

# Form "hdr": no detail lines; key k.db (5) without description, derived fields.
write("store", "hdr", store(b"\x02", " 3", "key01\n" + "key02\n" + "zzzzz\n", "", "key01key02zzzzz",
                            ["key01abcdefgh\n"[:5] + "key02", "key01key02"]))

# ---- query arguments on the example store, NUL-separated
for name, args in [("basic", ["h00;", "h01;", "d01;", "d04;"]),
                   ("shortcut", ["h00;000107", "h01;", "d01;"]),
                   ("search", ["h00;", "d00;", "d01;tornillo", "d04"]),
                   ("star", ["h00;*", "h04;", "h05;", "h06;", "h07;", "h08"]),
                   ("calculated_search", ["h07;by0", "h00"]),
                   ("short_and_odd", ["h", "d9", "x01;abc", "h 5;", "h-1;", "H99|", "D04"]),
                   ("other_form", ["@fac.c0", "h00;"]),
                   ("directory_form", ["@.", "h00;"]),
                   ("none", [])]:
    write("arguments", name, "\0".join(args))

# ---- the terminal library
ANSI = (b"\x17\x01\x00" + b"\x1b[H\x1b[2J\x00" + b"\x1b[%d;%dH\x00" + b"\x1b[7m\x00" + b"\x1b[m\x00"
        + b"\x00" + b"\x17\x00" + b"\x7f\x00" + b"\x1b[A\x00" + b"\x1b[B\x00" + b"\x1b[D\x00"
        + b"\x1b[C\x00" + b"\x00\x00" + b"+\x00+\x00+\x00+\x00" + b"|\x00-\x00" + b"\x00\x00"
        + b"\x1bOP\x00" + b"\x1bOQ\x00" + b"\xff")
ODD_FORMATS = (b"\x28\x00\x05" + b"\x00" + b"%*d%2$5d\x00" + b"%s%n%%\x00" + b"%-+ #0'x\x00"
               + b"\x00" + b"\xf0\x00" + b"ab\x00abc\x00a\x00" + b"0123456789ABC\x00")


def sections(*parts):
    return SEP.join(p if isinstance(p, bytes) else p.encode("latin-1") for p in parts)


write("terminal_table", "ansi", sections(ANSI, "clerk", "-", b"\x05\x0a\x17\x02\x03\x04\x10"))
write("terminal_table", "odd_formats", sections(ODD_FORMATS, "-", "10.0.0.7", b"\xff\x7f\x80\x01"))
write("terminal_table", "short_header", sections(b"\x05", "a/b", "", b""))
write("terminal_table", "no_end_byte", sections(b"\x03\x00\x02" + b"x" * 30 + b"\x00" * 50, "averyveryverylongloginname", "-"))
write("terminal_table", "empty", b"")

write("key_decoder", "ansi_arrows", sections(ANSI, b"ab\x1b[A\x1b[D\x1bOQ\x1b[Zx\x7f\x00\xff\x1b"))
write("key_decoder", "overlapping", sections(ODD_FORMATS, b"abcaab\x00a\x00\x00xab"))
write("key_decoder", "no_table", sections(b"", b"\x01\x02\x1b[A\xfe\xff"))

for name, decimals, text in [("grouped", 2, "1234567.891"), ("negative", 1, "-1234.5"), ("zero_decimals", 0, "1.5"),
                             ("eleven_digits", 0, "12345678901"), ("too_big", 2, "123456789012"),
                             ("huge", 4, "1e300"), ("infinite", 2, "-inf"), ("nan", 3, "nan"),
                             ("not_a_number", 2, "abc"), ("two_points", 2, "1234.5.6"), ("blanks", 0, "   "),
                             ("many_decimals", 40, "3.14159"), ("negative_decimals", -3, "99.5"),
                             ("empty", 2, ""), ("rounds_up", 2, "999.996"), ("negative_zero", 2, "-0.004")]:
    write("punto", name, bytes([decimals & 0xff]) + text.encode())

# field editor: width, type, exit key, ddoc %% initial text %% keys %% table
def editor(width, type_, exit_key, initial, keys, table=b""):
    head = bytes([(width // 2) & 0xff, type_, exit_key & 0xff, 0])
    parts = [head, initial, keys] + ([table] if table else [])
    return sections(*parts)


write("field_editor", "text_accents", editor(20, 0, 0, "abc", b"\x15\x15~'e'x''::\\"))
write("field_editor", "text_full", editor(6, 0, 0, "abcdef", b"gh\x08\x08xy\n"))
write("field_editor", "number", editor(12, 3, 0, "1234567.891", b"\x08\x08.5-\n"))
write("field_editor", "number_minus", editor(8, 1, 0, "", b"-12.3.4\x08\x08\x085\x1b"))
write("field_editor", "date_ok", editor(8, 8, 0, "", b"311299\n"))
write("field_editor", "date_refused", editor(8, 9, 0, "", b"290201\nx"))
write("field_editor", "date_exit_17", editor(8, 8, 17, "3113", b"\x11"))
write("field_editor", "long_initial", editor(4, 0, 0, "much longer than four", b"\x08\x08abc\x06\x06\n"))
write("field_editor", "wide", editor(254, 2, 0, "", b"9" * 300 + b"\n"))
write("field_editor", "with_table", editor(10, 0, 8, "xyz", b"\x1b[D\x1b[Dq\x7f\x1b[C\x1bOP", ANSI))
write("field_editor", "end_of_input", editor(10, 5, 0, "1", b"23"))
