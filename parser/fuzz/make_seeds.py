#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into parser/fuzz/corpus/<target>/.

Deterministic: the same repository gives the same files, so the corpus can be regenerated and
reviewed as a diff. Seeds come from the sample statement in examples/ (whole, sliced, re-encoded)
and from small statements built the way the core's unit tests build theirs, plus the value texts
of dates and amounts that the format's rules single out. Every file the script does not write is
removed from the corpus folders it owns.

Usage: python3 parser/fuzz/make_seeds.py
"""

from __future__ import annotations

import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]
CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"
EXAMPLE = ROOT / "examples" / "statement_cp1251.txt"

# fuzz_parse: the first byte picks the hooks (byte % 3) and seeds the editing hook (byte // 3).
NO_HOOKS, EDITING, EDITING_AND_WITNESS = 0, 1, 2


def crlf(lines: list[str]) -> str:
    return "".join(line + "\r\n" for line in lines)


def document_section(number: str, doc_type: str = "Платежное поручение", **override: str) -> list[str]:
    fields = {
        "Номер": number,
        "Дата": "05.03.2024",
        "Сумма": "1500.00",
        "ПлательщикСчет": "40702810000000000001",
        "ПлательщикИНН": "7700000001",
        "ПлательщикБИК": "044525001",
        "ПлательщикБанк1": "Банк плательщика",
        "ПолучательСчет": "40702810000000000002",
        "ПолучательИНН": "7700000002",
        "ПолучательБИК": "044525002",
        "ПолучательБанк1": "Банк получателя",
        "НазначениеПлатежа": "Оплата по счету " + number,
    }
    for key, value in override.items():
        if value is None:
            fields.pop(key, None)
        else:
            fields[key] = value
    return ["СекцияДокумент=" + doc_type] + [k + "=" + v for k, v in fields.items()] + ["КонецДокумента"]


def account_section(number: str, date_start: str = "01.03.2024", start_amount: str = "100.00",
                    extra: list[str] | None = None) -> list[str]:
    lines = ["СекцияРасчСчет", "ДатаНачала=" + date_start, "РасчСчет=" + number,
             "НачальныйОстаток=" + start_amount]
    return lines + (extra or []) + ["КонецРасчСчет"]


HEADER = ["1CClientBankExchange", "ВерсияФормата=1.03", "Кодировка=Windows", "РасчСчет=40702810000000000001"]
FULL = (account_section("40702810000000000001", extra=["ДатаКонца=31.03.2024", "КонечныйОстаток=1600.00",
                                                       "ВсегоПоступило=1500.00", "ВсегоСписано=0"])
        + document_section("1") + document_section("2", Сумма="-0.00"))


def statements() -> dict[str, str]:
    """Small statements (decoded text) named after what each one exercises."""
    s = {
        "complete": crlf(HEADER + FULL + ["КонецФайла"]),
        "no_header": crlf(["1CClientBankExchange"] + document_section("7") + ["КонецФайла"]),
        "lf_only": "\n".join(HEADER + FULL + ["КонецФайла"]) + "\n",
        "mixed_eol_blank_lines": "1CClientBankExchange\n\r\n  \t\r\n" + crlf(FULL) + "\u3000\nКонецФайла",
        "bad_amount_warns": crlf(HEADER + document_section("3", Сумма="1234,56") + ["КонецФайла"]),
        "missing_bic_warns": crlf(HEADER + document_section("4", ПлательщикБИК=None) + ["КонецФайла"]),
        "bad_date_warns": crlf(HEADER + document_section("5", Дата="29.02.2023") + ["КонецФайла"]),
        "optional_dates": crlf(HEADER + document_section("6", ДатаСписано=" ", ДатаПоступило="01.02.+20245")
                               + ["КонецФайла"]),
        "exponent_amount": crlf(HEADER + document_section("8", Сумма="1.5e3") + ["КонецФайла"]),
        "account_missing_number": crlf(HEADER + ["СекцияРасчСчет", "ДатаНачала=01.03.2024",
                                                 "НачальныйОстаток=1", "КонецРасчСчет", "КонецФайла"]),
        "account_bad_amount": crlf(HEADER + account_section("1", start_amount="abc") + ["КонецФайла"]),
        "account_bad_date": crlf(HEADER + account_section("1", date_start="31.02.2024") + ["КонецФайла"]),
        "account_repeats": crlf(HEADER + account_section("1", "02.03.2024") + account_section("1", "01.03.2024")
                                + account_section("1", "02.03.2024", "100.0") + account_section("2")
                                + ["КонецФайла"]),
        "file_end_in_header": crlf(HEADER + ["КонецФайла"]),
        "attribute_between_sections": crlf(HEADER + account_section("1") + ["Лишнее=1"] + FULL + ["КонецФайла"]),
        "nested_section": crlf(HEADER + ["СекцияРасчСчет", "СекцияДокумент=x", "КонецФайла"]),
        "after_file_end": crlf(HEADER + FULL + ["КонецФайла", "СекцияРасчСчет"]),
        "unrecognized_after_end": crlf(HEADER + ["СекцияРасчСчет", "КонецДокумента"] + FULL
                                       + ["КонецФайла", "мусор"]),
        "unfinished_in_section": crlf(HEADER + document_section("9")[:5]),
        "unfinished_between": crlf(HEADER + FULL),
        "marker_only": "1CClientBankExchange",
        "keyword_case_and_spaces": crlf(HEADER + ["СекцияРасчсчет", " КонецФайла"]),
        "empty_type_and_keys": crlf(HEADER + ["СекцияДокумент=", "=", "==x", "Номер =1", "КонецДокумента",
                                              "КонецФайла"]),
        "stray_cr": crlf(HEADER + FULL) + "КонецФайла\r\r\n",
        "repeated_keys": crlf(HEADER + ["ВерсияФормата=2"] + document_section("10", Номер="11")
                              + ["КонецФайла"]),
    }
    return s


def cp1251(text: str) -> bytes:
    # As the unit tests' re-encoding does: what windows-1251 lacks becomes "?".
    return text.encode("cp1251", errors="replace")


def write(target: str, files: dict[str, bytes]) -> int:
    folder = CORPUS / target
    folder.mkdir(parents=True, exist_ok=True)
    for old in folder.iterdir():
        if old.is_file() and old.name not in files:
            old.unlink()
    total = 0
    for name, data in sorted(files.items()):
        (folder / name).write_bytes(data)
        total += len(data)
    return total


def parse_seeds(example: bytes, texts: dict[str, str]) -> dict[str, bytes]:
    example_text = example.decode("cp1251")
    example_lines = example_text.split("\r\n") if "\r\n" in example_text else example_text.split("\n")
    out: dict[str, bytes] = {}
    for mode, tag in ((NO_HOOKS, "plain"), (EDITING, "edit"), (EDITING_AND_WITNESS, "chain")):
        out[f"example_cp1251_{tag}"] = bytes([mode]) + example
        out[f"example_utf8_{tag}"] = bytes([mode]) + example_text.encode("utf-8")
    # Slices of the sample: the header with its first account, the first document, a cut inside.
    first_doc = example_lines.index(next(l for l in example_lines if l.startswith("СекцияДокумент=")))
    first_doc_end = example_lines.index("КонецДокумента")
    head_end = example_lines.index("КонецРасчСчет")
    out["example_first_account"] = bytes([NO_HOOKS]) + cp1251(crlf(example_lines[: head_end + 1] + ["КонецФайла"]))
    out["example_first_document"] = bytes([EDITING + 3 * 7]) + cp1251(
        crlf(example_lines[:1] + example_lines[first_doc: first_doc_end + 1] + ["КонецФайла"]))
    out["example_cut"] = bytes([NO_HOOKS]) + example[: len(example) // 2]
    # Past 16 KiB, so that a reader decoding a stretch of lines at a time goes on to the next one
    # while sections are open across the seam.
    sections = example_lines[example_lines.index("СекцияРасчСчет"): example_lines.index("КонецФайла")]
    big = crlf(example_lines[:example_lines.index("СекцияРасчСчет")] + sections * 5 + ["КонецФайла"])
    out["example_sections_x5_cp1251"] = bytes([NO_HOOKS]) + cp1251(big)
    out["example_sections_x5_utf8"] = bytes([EDITING + 3 * 11]) + big.encode("utf-8")
    for index, (name, text) in enumerate(sorted(texts.items())):
        mode = index % 3
        seed = (index * 37) % 85
        out[f"{name}_utf8"] = bytes([mode + 3 * seed]) + text.encode("utf-8")
        if index % 2 == 0:
            out[f"{name}_cp1251"] = bytes([(mode + 1) % 3 + 3 * seed]) + cp1251(text)
    small = texts["complete"]
    out["utf16le_bom"] = bytes([NO_HOOKS]) + b"\xff\xfe" + small.encode("utf-16-le")
    out["utf16be_bom"] = bytes([EDITING]) + b"\xfe\xff" + small.encode("utf-16-be")
    out["utf8_bom_with_cp1251_tail"] = bytes([NO_HOOKS]) + b"\xef\xbb\xbf" + cp1251(small)
    out["empty"] = b""
    out["control_only"] = bytes([EDITING])
    return out


def decode_seeds(example: bytes, texts: dict[str, str]) -> dict[str, bytes]:
    small = texts["complete"]
    head = crlf(HEADER)
    out = {
        "example_cp1251": example,
        "example_utf8": example.decode("cp1251").encode("utf-8"),
        "small_cp1251": cp1251(small),
        "small_utf8": small.encode("utf-8"),
        "utf8_bom_valid": b"\xef\xbb\xbf" + small.encode("utf-8"),
        "utf8_bom_invalid_tail": b"\xef\xbb\xbf" + head.encode("utf-8") + b"\xc0\xaf",
        "utf16le": b"\xff\xfe" + small.encode("utf-16-le"),
        "utf16be": b"\xfe\xff" + small.encode("utf-16-be"),
        "utf16le_odd": b"\xff\xfe" + head.encode("utf-16-le") + b"\x00",
        "utf16le_lone_surrogate": b"\xff\xfe" + head.encode("utf-16-le") + b"\x00\xd8",
        "utf16le_supplementary": b"\xff\xfe" + (head + "\U0001F600\r\n").encode("utf-16-le"),
        "bom_only": b"\xff\xfe",
        "nbsp_heavy": cp1251(head) + b"\xa0" * 40 + b"\xc0",
        "nbsp_light": cp1251(head) + b"\xa0" * 2 + b"\xc0",
        "byte_98": cp1251(head) + b"\x98",
        "marker_trailing_space": b"1CClientBankExchange \r\n",
        "marker_two_cr": b"1CClientBankExchange\r\r\n",
        "marker_lone_cr": b"1CClientBankExchange\rx\xc0",
        "leading_blank_line": b"\r\n1CClientBankExchange\r\n",
        "marker_only": b"1CClientBankExchange",
        "empty": b"",
        "overlong_utf8": b"1CClientBankExchange\r\n\xc0\x80",
        "surrogate_utf8": b"1CClientBankExchange\r\n\xed\xa0\x80",
        "above_max_utf8": b"1CClientBankExchange\r\n\xf4\x90\x80\x80",
        "truncated_utf8": b"1CClientBankExchange\r\n\xd0",
        # Only the first 20480 code points count: no-break spaces after them do not matter, and
        # the same ones just before the limit do.
        "implausible_after_sample": cp1251(head) + b"\xc0" * (20480 - len(head)) + b"\xa0" * 2000,
        "implausible_before_sample": cp1251(head) + b"\xc0" * (20480 - len(head) - 1000) + b"\xa0" * 1000,
    }
    return out


def lex_seeds(example: bytes, texts: dict[str, str]) -> dict[str, bytes]:
    out = {f"{name}": text.encode("utf-8") for name, text in sorted(texts.items())}
    out["example"] = example.decode("cp1251").encode("utf-8")
    # Read as windows-1251 too: past one 16 KiB stretch, in either encoding.
    out["example_x5_cp1251"] = example * 5
    out["example_x3_utf8"] = example.decode("cp1251").encode("utf-8") * 3
    out["white_space_lines"] = "a=b\n\u00a0\u2000\u3000\n\u0085\r\n\x0b\x0c\nКонецФайла\n".encode("utf-8")
    out["keyword_with_cr"] = "КонецФайла\r\r\nКонецФайла\rx\n".encode("utf-8")
    out["document_key_without_eq"] = "СекцияДокумент\n".encode("utf-8")
    out["ill_formed"] = b"a=\xff\n\xc2\n\xe3\x80\n"
    out["no_final_newline"] = "1CClientBankExchange\nКонецРасчСчет".encode("utf-8")
    out["empty"] = b""
    return out


DATES = [
    "01.02.2024", " 1.2.2024", "01.02.2024 ", "29.02.2023", "29.02.2024", "31.02.2024", "00.01.2024",
    "01. 02.2024", "01 .02.2024", "011.02.2024", "001.02.2024", "01.02.20245", "01.02.+20245", "01.02",
    "2024-02-01", "", "   ", "\u00a0", "01.02.-1", "01.02.+", "01.02.-x", "31.12.262142", "01.01.-262143",
    "01.01.+262143", "01.01.-2147483648", "01.01.+99999999999999999999", "1.1.24", "01.13.2024",
    "32.01.2024", "29.02.1900", "29.02.2000", "01.02.\u20032024", "\u30001.2.2024", "01.02.0000",
]

AMOUNTS = [
    "1234.56", "-0.00", "+7", "1_000.50", "_1", "1234,56", " 1", "", "1.5e3", "15e-1", "1E+2", "2e-30",
    "1e28", "1e29", "0.000e5", "1e-+2", "0.00000000000000000000000000005", "0.00000000000000000000000000004",
    "1." + "0" * 28 + "5x", "1." + "0" * 28 + "x", "79228162514264337593543950336",
    "7922816251426433759354395033.55", "79228162514264337593543950335", "5.", ".5", ".", "+", "-",
    "1.2.3", "1e", "1e+", "1e++2", "1e 2", "1_e2", "1__0", "1._5", "9" * 40, "0." + "9" * 40,
    "-1.5E-2", "1e4294967295", "1e4294967296", "1e-4294967296", "1.50",
]

QUOTES = [
    "", "plain", "it's", 'say "hi"', "back\\slash", "\x00\t\r\n", "\u0301", "e\u0301", "\u00a0",
    "\x7f", "\u200b", "\u2028", "\ud7ff", "\U0010ffff", "\uf8ff", "Привет, мир", "№ 1187 «Ладога»",
    "\u0378", "\ufeff", "\u3000",
]
QUOTE_BYTES = [b"\xff", b"\xc0\xaf", b"\xed\xa0\x80", b"\xf4\x90\x80\x80", b"\xe2\x82", b"ok\xd0", b"\x80\x80"]


def main() -> int:
    example = EXAMPLE.read_bytes()
    texts = statements()
    sizes = {
        "fuzz_parse": write("fuzz_parse", parse_seeds(example, texts)),
        "fuzz_decode_input": write("fuzz_decode_input", decode_seeds(example, texts)),
        "fuzz_lex": write("fuzz_lex", lex_seeds(example, texts)),
        "fuzz_parse_date": write("fuzz_parse_date", {f"date_{i:02d}": d.encode("utf-8")
                                                     for i, d in enumerate(DATES)}),
        "fuzz_parse_amount": write("fuzz_parse_amount", {f"amount_{i:02d}": a.encode("utf-8")
                                                         for i, a in enumerate(AMOUNTS)}),
        "fuzz_quote": write("fuzz_quote", {**{f"text_{i:02d}": q.encode("utf-8", "surrogatepass")
                                              for i, q in enumerate(QUOTES)},
                                           **{f"bytes_{i:02d}": b for i, b in enumerate(QUOTE_BYTES)}}),
    }
    for target, size in sizes.items():
        count = sum(1 for p in (CORPUS / target).iterdir() if p.is_file())
        print(f"{target}: {count} files, {size} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
