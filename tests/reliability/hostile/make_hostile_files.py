#!/usr/bin/env python3
"""Writes the hostile backup files of this folder and, beside each NAME.txt, NAME.expected: what
importing it into a store holding only the three roots must give.

NAME.expected, UTF-8: header lines, then a line "--", then the registry afterwards exactly as the
tests dump it (reliability_support.h, DumpRegistry):
    exit N          tovik-reg import's exit status
    outcome X       the import's outcome (Finished, NotUnicode, FormatError, NoRootKey, BrokenLine)
    broken N        BrokenLine: the 1-based line number of the broken line
    unknown N       value lines skipped for an unknown type tag
    stderr TEXT     a text tovik-reg prints on stderr (one line each)
The expectations are written out by hand from the file format's rules; run this script again
after changing a case. Large files (100 MB lines, a million lines, 600 levels, 100,000-character
names) are made by the tests themselves.
"""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))
H = "Tovik レジストリ退避ファイル Ver1.0"
HKLM = "\\\\HKEY_LOCAL_MACHINE"
NOT_UNICODE = "Unicodeではありません"
FORMAT_ERROR = "ファイル形式エラー インポート失敗"
NO_ROOT = "ルートキーなし インポート失敗"
BROKEN = "インポートファイルが壊れています。ロード途中で終了しました。表示も不正になります。"
cases = []


def u16(text):
    return text.encode("utf-16-le", "surrogatepass")


def lines_bytes(lines, end="\r\n", mark=True):
    return (b"\xff\xfe" if mark else b"") + u16("".join(l + end for l in lines))


def case(name, data, outcome="Finished", dump=(), broken=None, unknown=0):
    exit_code = 0 if outcome == "Finished" else 1
    head = [f"exit {exit_code}", f"outcome {outcome}"]
    if broken is not None:
        head.append(f"broken {broken}")
    if unknown:
        head.append(f"unknown {unknown}")
        head.append(f"stderr 型の分からない値の行を{unknown}行読み飛ばしました")
    message = {"NotUnicode": NOT_UNICODE, "FormatError": FORMAT_ERROR, "NoRootKey": NO_ROOT,
               "BrokenLine": BROKEN}.get(outcome)
    if message:
        head.append(f"stderr {message}")
    cases.append((name, data, "\n".join(head) + "\n--\n" + "".join(l + "\n" for l in dump)))


def std(*body):
    return lines_bytes([H, HKLM, *body])


# ---- truncated files and odd byte counts ----
case("truncated_empty", b"", "FormatError")
case("truncated_one_byte", b"\xff", "FormatError")
case("truncated_mark_only", b"\xff\xfe", "FormatError")
case("truncated_in_header", b"\xff\xfe" + u16("Tovik レジ"), "FormatError")
case("truncated_after_header", b"\xff\xfe" + u16(H + "\r\n\\\\HKEY_LOC"), "NoRootKey")
case("truncated_in_value_line",
     std("[Software\\Hostile]", '"a"=SZ:x')[:] + u16('"b"=SZ:partial'),
     dump=["[HKEY_LOCAL_MACHINE\\Software]", "[HKEY_LOCAL_MACHINE\\Software\\Hostile]", '"a"=SZ:x'])
case("odd_byte_after_last_line", std("[T]", '"a"=DW:1(1)') + b"\x41",
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"a"=DW:1(1)'])
case("odd_byte_is_half_a_cr", std("[T]", '"a"=SZ:x') + u16('"b"=SZ:y') + b"\x0d",
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"a"=SZ:x'])
case("truncated_after_cr", std("[T]") + u16('"a"=SZ:x\r'),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"a"=SZ:x'])
case("misaligned_by_one_byte", b"\xff\xfe\x00" + u16(H + "\r\n" + HKLM + "\r\n[T]\r\n"), "FormatError")

# ---- byte order marks ----
case("mark_missing", lines_bytes([H, HKLM, "[T]"], mark=False), "NotUnicode")
case("mark_big_endian", b"\xfe\xff" + (H + "\r\n" + HKLM + "\r\n[T]\r\n").encode("utf-16-be"), "NotUnicode")
case("mark_utf8", b"\xef\xbb\xbf" + (H + "\r\n" + HKLM + "\r\n[T]\r\n").encode("utf-8"), "NotUnicode")
case("mark_none_utf8", (H + "\r\n" + HKLM + "\r\n[T]\r\n").encode("utf-8"), "NotUnicode")
case("mark_twice", b"\xff\xfe" + lines_bytes([H, HKLM, "[T]"]), "FormatError")
case("mark_then_utf8", b"\xff\xfe" + (H + "\r\n" + HKLM + "\r\n[T]\r\n").encode("utf-8"), "FormatError")
case("mark_starts_a_second_file",
     std("[First]", '"a"=SZ:1') + lines_bytes([H, HKLM, "[Second]", '"b"=SZ:2']),
     "BrokenLine", broken=5, dump=["[HKEY_LOCAL_MACHINE\\First]", '"a"=SZ:1'])

# ---- line ends ----
T_LINES = ["[T]", '"a"=SZ:x', '"b"=DW:7(7)']
T_DUMP = ["[HKEY_LOCAL_MACHINE\\T]", '"a"=SZ:x', '"b"=DW:7(7)']
case("line_ends_lone_cr", lines_bytes([H, HKLM, *T_LINES], end="\r"), dump=T_DUMP)
case("line_ends_lf_only", lines_bytes([H, HKLM, *T_LINES], end="\n"), "FormatError")
case("line_ends_cr_lf_lf", lines_bytes([H, HKLM, *T_LINES], end="\r\n\n"), dump=T_DUMP)
case("line_ends_lf_cr", lines_bytes([H, HKLM, *T_LINES], end="\n\r"), dump=T_DUMP)
# An LF alone does not end a line: the two value lines become one, split at its last "=".
case("line_ends_lf_inside", std("[T]") + u16('"a"=SZ:x\n"b"=SZ:y\r\n'),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"a"=SZ:x"b"=SZ:y'])
case("cr_inside_value_name", std("[T]", '"ok"=SZ:1', '"na\rme"=SZ:x', '"after"=SZ:2'),
     "BrokenLine", broken=6, dump=["[HKEY_LOCAL_MACHINE\\T]", '"ok"=SZ:1'])
case("cr_inside_data_starts_a_key", std("[T]", '"a"=SZ:one\r[two]', '"b"=SZ:2'),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"a"=SZ:one', "[HKEY_LOCAL_MACHINE\\two]", '"b"=SZ:2'])
case("empty_lines_right_after_root", std(*([""] * 10000), "[T]", '"a"=SZ:x'))
case("empty_line_ends_the_data", std("[A]", '"a"=SZ:1', "", "[B]", '"b"=SZ:2'),
     dump=["[HKEY_LOCAL_MACHINE\\A]", '"a"=SZ:1'])

# ---- zero units: one drops the rest of its 1024-byte block ----
# Block 0 (units 0 to 511) holds the header, the root line, [Z] and a value line padded to end
# exactly at unit 511; block 1 holds [After] and one value.
head_units = len(H) + 2 + len(HKLM) + 2 + len("[Z]") + 2
pad_prefix = '"pad"=SZ:'
pad_len = 512 - head_units - len(pad_prefix) - 2
assert pad_len > 300
pad = "p" * pad_len
BLOCKS = [H, HKLM, "[Z]", pad_prefix + pad, "[After]", '"b"=DW:2']
BLOCK_TEXT = "".join(l + "\r\n" for l in BLOCKS)
assert BLOCK_TEXT.index("[After]") == 512


def zero_at(unit):
    return b"\xff\xfe" + u16(BLOCK_TEXT[:unit] + "\0" + BLOCK_TEXT[unit + 1:])


root_at = len(H) + 2
z_at = root_at + len(HKLM) + 2
pad_at = z_at + len("[Z]") + 2
pad_dump = '"pad"=SZ:' + "p" * 200 + f"...({pad_len} chars)"
case("zero_unit_in_header", zero_at(3), "FormatError")
case("zero_unit_in_root_line", zero_at(root_at + 5), "NoRootKey")
case("zero_unit_in_key_line", zero_at(z_at + 2),
     dump=["[HKEY_LOCAL_MACHINE\\Z[After]", '"b"=DW:2(2)'])
case("zero_unit_in_value_data", zero_at(pad_at + len(pad_prefix) + 10),
     dump=["[HKEY_LOCAL_MACHINE\\Z]", '"pad"=SZ:pppppppppp[After]', '"b"=DW:2(2)'])
case("zero_unit_last_of_block", zero_at(511),
     dump=["[HKEY_LOCAL_MACHINE\\After]", '"b"=DW:2(2)', "[HKEY_LOCAL_MACHINE\\Z]", pad_dump])
case("zero_unit_first_of_block", zero_at(512), dump=["[HKEY_LOCAL_MACHINE\\Z]", pad_dump])
case("zero_unit_between_cr_and_lf", zero_at(pad_at - 1),
     dump=["[HKEY_LOCAL_MACHINE\\After]", '"b"=DW:2(2)', "[HKEY_LOCAL_MACHINE\\Z]"])
case("zero_unit_first_of_file", zero_at(0), "FormatError")

# ---- surrogates ----
case("surrogate_lone_high", std("[K\ud800]", '"v\ud800x"=SZ:d\ud800', '"m"=MLT:a\ud800|b||'),
     dump=["[HKEY_LOCAL_MACHINE\\K\\x{D800}]", '"v\\x{D800}x"=SZ:d\\x{D800}', '"m"=MLT:a\\x{D800}|b||'])
case("surrogate_lone_low", std("[\udc00K]", '"\udc00"=EXP:\udc00'),
     dump=["[HKEY_LOCAL_MACHINE\\\\x{DC00}K]", '"\\x{DC00}"=EXP:\\x{DC00}'])
case("surrogate_pair_reversed", std("[\udc00\ud800]", '"\udc00\ud800"=SZ:\udc00\ud800'),
     dump=["[HKEY_LOCAL_MACHINE\\\\x{DC00}\\x{D800}]", '"\\x{DC00}\\x{D800}"=SZ:\\x{DC00}\\x{D800}'])
case("surrogate_pairs_valid", std("[鍵\U0001F600]", '"名\U0001F600"=SZ:値\U0001F600', '"m"=MLT:\U0001F600|||'),
     dump=["[HKEY_LOCAL_MACHINE\\鍵\U0001F600]", '"名\U0001F600"=SZ:値\U0001F600', '"m"=MLT:\U0001F600|||'])
case("surrogate_in_numbers", std("[T]", '"n"=DW:\ud8001', '"b"=BIN:0\ud800A 1B'),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"n"=DW:0(0)', '"b"=BIN:00 1B '])
case("surrogate_in_tag", std("[T]", '"a"=S\ud800Z:x', '"ok"=SZ:y'), unknown=1,
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"ok"=SZ:y'])

# ---- key paths ----
case("path_leading_backslash", std("[\\Software\\A]", '"a"=SZ:x'))
case("path_doubled_backslash", std("[Software\\\\A]", '"a"=SZ:x'))
case("path_only_backslashes", std("[\\\\]", '"a"=SZ:x'))
case("path_trailing_backslash", std("[Software\\A\\]", '"a"=SZ:x'),
     dump=["[HKEY_LOCAL_MACHINE\\Software]", "[HKEY_LOCAL_MACHINE\\Software\\A]", '"a"=SZ:x'])
case("path_missing_close_bracket", std("[Software\\A", '"a"=SZ:x'),
     dump=["[HKEY_LOCAL_MACHINE\\Software]", '"a"=SZ:x'])
case("path_lone_bracket_is_the_root", std("[", '"a"=SZ:x'), dump=["[HKEY_LOCAL_MACHINE]", '"a"=SZ:x'])
case("path_empty_is_the_root", std("[]", '"@"=SZ:root default'),
     dump=["[HKEY_LOCAL_MACHINE]", '""=SZ:root default'])
case("path_quote_parent_missing", std('[Missing"Sub]', '"a"=SZ:x'))
case("path_quote_parent_exists", std("[P]", '[P"Q\\R]', '"a"=SZ:x'),
     dump=["[HKEY_LOCAL_MACHINE\\P]", "[HKEY_LOCAL_MACHINE\\P\\Q]", "[HKEY_LOCAL_MACHINE\\P\\Q\\R]", '"a"=SZ:x'])
case("names_at_and_past_the_limits",
     std("[" + "k" * 255 + "]", '"' + "v" * 16383 + '"=DW:1', '"' + "w" * 16384 + '"=DW:2', '"ok"=DW:3',
         "[" + "x" * 256 + "]", '"lost"=DW:4'),
     dump=["[HKEY_LOCAL_MACHINE\\" + "k" * 255 + "]", '"' + "v" * 16383 + '"=DW:1(1)', '"ok"=DW:3(3)'])

# ---- every data tag with garbage data ----
case("garbage_hex_data",
     std("[T]", '"n"=NON:zz yy', '"b"=BIN:GG 1G G1', '"e"=DWE:  ', '"l"=LNK:\t0A',
         '"r"=RSC:123 4567 89ABCDEF0', '"x"=BIN:-1 +2 0x3'),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"n"=NON:00 00 ', '"b"=BIN:00 01 00 ', '"e"=DWE:00 00 ', '"l"=LNK:00 ',
           '"r"=RSC:23 67 F0 ', '"x"=BIN:00 00 00 '])
case("garbage_dw_data",
     std("[T]", '"a"=DW:abc', '"b"=DW:99999999999', '"c"=DW:-99999999999', '"d"=DW:  +12xyz', '"e"=DW:\t-0',
         '"f"=DW:0x10', '"g"=DW:', '"h"=DW:4294967295', '"i"=DW:-2147483649', '"j"=DW:1e5', '"k"=DW:１２'),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"a"=DW:0(0)', '"b"=DW:2147483647(7FFFFFFF)',
           '"c"=DW:-2147483648(80000000)', '"d"=DW:12(C)', '"e"=DW:0(0)', '"f"=DW:0(0)', '"g"=DW:0(0)',
           '"h"=DW:2147483647(7FFFFFFF)', '"i"=DW:-2147483648(80000000)', '"j"=DW:1(1)', '"k"=DW:0(0)'])
case("garbage_string_data",
     std("[T]", '"s"=SZ:|||', '"e"=EXP:%%%', '"m"=MLT:no terminator', '"m2"=MLT:|', '"c"=SZ:tab\there',
         '"q"=SZ:"quoted"', '"col"=SZ:a:b:c', '"ctl"=SZ:\x01\x1f\x7f'),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"s"=SZ:|||', '"e"=EXP:%%%', '"m"=MLT:no terminator', '"m2"=MLT:|',
           '"c"=SZ:tab\\x{0009}here', '"q"=SZ:"quoted"', '"col"=SZ:a:b:c',
           '"ctl"=SZ:\\x{0001}\\x{001F}\\x{007F}'])
case("garbage_tags",
     std("[T]", '"a"=??:01 02 ', '"b"=sz:x', '"c"= SZ:x', '"d"=SZ :x', '"e"=:x', '"f"=x', '"g"=REG_SZ:x',
         '"h"=DWORD:1', '"ok"=SZ:y'),
     unknown=8, dump=["[HKEY_LOCAL_MACHINE\\T]", '"ok"=SZ:y'])
# Split at the last "=": an "=" in the data moves the split, one at the end makes the line ignored.
case("garbage_equals_signs",
     std("[T]", '"a"=SZ:x=y', '"b"=SZ:ends with=', '"c=d"=DW:5', '"e"' + "=" * 10 + "SZ:x"),
     unknown=1, dump=["[HKEY_LOCAL_MACHINE\\T]", '"c=d"=DW:5(5)', '"e"' + "=" * 8 + '"=SZ:x'])
case("garbage_value_names",
     std("[T]", '"a"', '"a"=', '"', '""=SZ:x', '"=SZ:y', '"@"=DW:1', '@=DW:2'),
     "BrokenLine", broken=10, dump=["[HKEY_LOCAL_MACHINE\\T]", '""=DW:1(1)'])

# ---- structure ----
case("values_before_the_first_key", std('"a"=SZ:x', "[K]", '"b"=SZ:y'),
     dump=["[HKEY_LOCAL_MACHINE\\K]", '"b"=SZ:y'])
case("header_lower_case", lines_bytes(["tovik レジストリ退避ファイル Ver1.0", HKLM, "[T]"]), "FormatError")
case("header_leading_space", lines_bytes([" " + H, HKLM, "[T]"]), "FormatError")
case("header_word_alone", lines_bytes(["Tovik", HKLM, "[T]", '"a"=SZ:x']),
     dump=["[HKEY_LOCAL_MACHINE\\T]", '"a"=SZ:x'])
case("header_only", lines_bytes([H]), "NoRootKey")
case("root_single_backslash", lines_bytes([H, "\\HKEY_LOCAL_MACHINE", "[T]"]), "NoRootKey")
case("root_trailing_space", lines_bytes([H, HKLM + " ", "[T]"]), "NoRootKey")
case("root_lower_case", lines_bytes([H, "\\\\hkey_local_machine", "[T]"]), "NoRootKey")
case("root_unknown", lines_bytes([H, "\\\\HKEY_USERS", "[T]"]), "NoRootKey")
case("root_classes_root", lines_bytes([H, "\\\\HKEY_CLASSES_ROOT", "[.txt]", '"@"=SZ:txtfile']),
     dump=["[HKEY_CLASSES_ROOT\\.txt]", '""=SZ:txtfile'])
case("root_current_user", lines_bytes([H, "\\\\HKEY_CURRENT_USER", "[Software]", '"a"=DW:1']),
     dump=["[HKEY_CURRENT_USER\\Software]", '"a"=DW:1(1)'])
case("second_root_line", std("[A]", '"a"=SZ:1', "\\\\HKEY_CURRENT_USER", "[B]", '"b"=SZ:2'),
     "BrokenLine", broken=5, dump=["[HKEY_LOCAL_MACHINE\\A]", '"a"=SZ:1'])
case("line_with_leading_space", std("[A]", '"a"=SZ:1', " [B]", '"b"=SZ:2'),
     "BrokenLine", broken=5, dump=["[HKEY_LOCAL_MACHINE\\A]", '"a"=SZ:1'])
case("same_names_in_other_case", std("[K]", '"Name"=SZ:1', '"NAME"=DW:2', "[k]", '"name"=SZ:3', '"b"=SZ:4'),
     dump=["[HKEY_LOCAL_MACHINE\\K]", '"Name"=SZ:3', '"b"=SZ:4'])

# ---- binary noise (fixed seed) ----
def split_lines(after_mark):
    # The reader's rule, to check that the noise cases below mean what they say.
    lines, line = [], ""
    for block in range(0, len(after_mark) // 2 * 2, 1024):
        data = after_mark[block:block + 1024]
        for i in range(0, len(data) // 2 * 2, 2):
            unit = data[i] | data[i + 1] << 8
            if unit == 0:
                break
            if unit == 13:
                lines.append(line)
                line = ""
            elif unit != 10:
                line += chr(unit)
    return lines


rng = random.Random(20240608)
noise = bytes(rng.randrange(256) for _ in range(8192))
assert split_lines(u16(H + "\r\n" + HKLM + "\r\nx") + noise + u16("\r\n"))[2].startswith("x")
assert split_lines(noise)[:1] != ["Tovik"] and not any(l.startswith("Tovik") for l in split_lines(noise)[:1])
case("noise_without_mark", b"\x00" + noise, "NotUnicode")
case("noise_after_mark", b"\xff\xfe" + noise, "FormatError")
case("noise_after_root_line", std() + u16("x") + noise + u16("\r\n"), "BrokenLine", broken=3)
case("noise_after_values", std("[N]", '"ok"=SZ:1') + u16("x") + noise + u16("\r\n"),
     "BrokenLine", broken=5, dump=["[HKEY_LOCAL_MACHINE\\N]", '"ok"=SZ:1'])

for old in os.listdir(HERE):
    if old.endswith(".txt") or old.endswith(".expected"):
        os.remove(os.path.join(HERE, old))
names = set()
for name, data, expected in cases:
    assert name not in names, name
    names.add(name)
    with open(os.path.join(HERE, name + ".txt"), "wb") as f:
        f.write(data)
    with open(os.path.join(HERE, name + ".expected"), "w", encoding="utf-8", errors="surrogatepass") as f:
        f.write(expected)
print(len(cases), "files")
