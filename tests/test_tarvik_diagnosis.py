"""Why a file does not read: the reason `tarvik` adds to `tarvik_py`'s exception, one row per cause."""

import codecs
from pathlib import Path

import pytest
import tarvik_py

import tarvik
import tarvik.many

SAMPLE = Path(__file__).resolve().parent.parent / "examples" / "statement_cp1251.txt"
TEXT = SAMPLE.read_bytes().decode("cp1251")
LINES = TEXT.split("\r\n")


def cut(count):
    """The sample's first `count` lines, each with its line end: a file cut at a line end."""
    return "".join(line + "\r\n" for line in LINES[:count]).encode("cp1251")


def stray(data, at, byte):
    return data[:at] + byte + data[at:]


NOT_STATEMENT = "Input is not a 1C statement"
UNFINISHED = "Statement is not finished"

# (the bytes, the exception's class, the finding's line, the reason)
CAUSES = [
    (b"", tarvik_py.NotStatementError, None, "the file is empty"),
    (b" \r\n\r\n", tarvik_py.NotStatementError, None, "the file holds only white space"),
    (bytes(range(256)) * 4, tarvik_py.NotStatementError, None, "the file is binary, not text: byte 0x00 at offset 0"),
    (b"%PDF-1.7\n%\xe2\xe3\xcf\xd3\n", tarvik_py.NotStatementError, None, "the file is a PDF document, not text"),
    (TEXT.encode("utf-16-le"), tarvik_py.NotStatementError, None,
     "the text is UTF-16 (little-endian) without a byte-order mark: save it with the mark (FF FE), or as "
     "Windows-1251 or UTF-8"),
    (TEXT.encode("utf-16-be"), tarvik_py.NotStatementError, None,
     "the text is UTF-16 (big-endian) without a byte-order mark: save it with the mark (FE FF), or as "
     "Windows-1251 or UTF-8"),
    (codecs.BOM_UTF16_LE + TEXT.encode("utf-16-le")[:-1], tarvik_py.NotStatementError, 161,
     "the text is UTF-16 after its byte-order mark, but ends in half a unit at line 161"),
    (TEXT.replace("«", '"').replace("»", '"').encode("cp866"), tarvik_py.NotStatementError, 3,
     "the text is in code page 866 (DOS), but its header says Кодировка=Windows at line 3"),
    (TEXT.replace("«", '"').replace("»", '"').replace("Кодировка=Windows\r\n", "").encode("cp866"),
     tarvik_py.NotStatementError, None,
     "the text is in code page 866 (DOS), but its header does not say Кодировка=DOS"),
    (("Выписка за март " * 8 + "\r\n" + TEXT).encode("cp1251"), tarvik_py.NotStatementError, 1,
     "the marker 1CClientBankExchange is line 2; it must be the first line"),
    (("Выписка за март " * 8 + "\r\n").encode("cp1251"), tarvik_py.NotStatementError, 1,
     "the first line 'Выписка за март Выписка за март Выписка за март…' is not the marker 1CClientBankExchange"),
    (stray(TEXT.encode("utf-8"), 500, b"\xff"), tarvik_py.NotStatementError, 14,
     "the text is UTF-8 except for the byte 0xFF at line 14"),
    (stray(stray(TEXT.encode("utf-8"), 2000, b"\xc0"), 500, b"\xff"), tarvik_py.NotStatementError, 14,
     "the text is UTF-8 except for the byte 0xFF at line 14 (and 1 more)"),
    (TEXT.replace("\r\nНазначениеПлатежа=", "\r\nНазначениеПлатежа=«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»«»").encode("cp1251"),
     tarvik_py.NotStatementError, None,
     "read as Windows-1251, 252 of the first 4742 characters (5 %) are neither letters, digits, punctuation nor "
     "white space, most often '«' (left-pointing double angle quotation mark), '»' (right-pointing double angle "
     "quotation mark); a Windows-1251 statement may have at most 4 % of them"),
    (cut(50), tarvik_py.UnfinishedError, 39,
     "the file ends at line 50 inside the document section that begins at line 39 "
     "('СекцияДокумент=Платежное поручение'): КонецДокумента is missing"),
    (cut(50)[:-5], tarvik_py.UnfinishedError, 39,
     "the file ends at line 50 inside the document section that begins at line 39 "
     "('СекцияДокумент=Платежное поручение'): КонецДокумента is missing"),
    (cut(15), tarvik_py.UnfinishedError, 12,
     "the file ends at line 15 inside the account section that begins at line 12 ('СекцияРасчСчет'): "
     "КонецРасчСчет is missing"),
    (cut(5), tarvik_py.UnfinishedError, 1,
     "the file ends at line 5 in the header, which begins at line 1: no section and no КонецФайла follow"),
    (cut(20), tarvik_py.UnfinishedError, 20, "the file ends after the section closed at line 20, without КонецФайла"),
    (cut(20) + b"\r\n\r\n", tarvik_py.UnfinishedError, 20,
     "the file ends after the section closed at line 20 (its last line is 22), without КонецФайла"),
]
# A first line that is the marker but for a letter or two reads with the repairs, which say so;
# read as tarvik_py reads it, the file is refused with the reason.
MISSPELT = [
    (TEXT.replace("1CClientBankExchange", "1CClientBankExchang").encode("cp1251"), 1,
     "the first line '1CClientBankExchang' is not the marker 1CClientBankExchange"),
    (TEXT.replace("1CClientBankExchange", "1cclientbankexchange").encode("utf-8"), 1,
     "the first line '1cclientbankexchange' is not the marker 1CClientBankExchange: the letters' case differs"),
]
IDS = [
    "empty", "white space", "binary", "pdf", "utf-16 le without mark", "utf-16 be without mark",
    "utf-16 cut in a unit", "cp866 saying Windows", "cp866 saying nothing",
    "marker on line 2", "long first line", "utf-8 but one byte", "utf-8 but two bytes", "too many guillemets",
    "cut in a document", "cut within a line", "cut in an account", "cut in the header", "cut between sections",
    "cut between sections, blank lines after",
]


@pytest.mark.parametrize("data, kind, lineno, why", CAUSES, ids=IDS)
def test_a_file_that_does_not_read_says_why(data, kind, lineno, why):
    with pytest.raises(kind) as caught:
        tarvik.read(data)
    # tarvik_py's own message stays as it is; the reason is a note.
    assert str(caught.value) == (UNFINISHED if kind is tarvik_py.UnfinishedError else NOT_STATEMENT)
    assert caught.value.__notes__ == [why]
    [finding] = tarvik.check(data, name="f.txt")
    assert (finding.lineno, finding.severity) == (lineno, "error")
    assert finding.message == f"{caught.value}: {why}"


@pytest.mark.parametrize("data, lineno, why", MISSPELT, ids=["misspelt marker", "marker's case"])
def test_a_misspelt_marker_reads_with_repairs_and_says_why_without(data, lineno, why):
    assert [c.repair for c in tarvik.read(data).changes][:1] == ["misspelt_marker"]
    with pytest.raises(tarvik_py.NotStatementError) as caught:
        tarvik.read(data, repairs=False)
    assert caught.value.__notes__ == [why]
    [finding] = tarvik.check(data, name="f.txt", repairs=False)
    assert (finding.lineno, finding.severity, finding.message) == (lineno, "error", f"{NOT_STATEMENT}: {why}")


def test_the_reason_follows_the_files_name_and_reaches_the_tables(tmp_path):
    path = tmp_path / "cut.txt"
    path.write_bytes(cut(15))
    with pytest.raises(tarvik_py.UnfinishedError) as caught:
        tarvik.read(path)
    assert caught.value.__notes__[0] == f"in {path}"
    assert caught.value.__notes__[1].startswith("the file ends at line 15 inside the account section")
    pytest.importorskip("pyarrow")
    [failure] = tarvik.many.read_file(path).failures.to_pylist()
    assert failure["line"] == 12 and failure["message"].startswith(f"{UNFINISHED}: the file ends at line 15")


def test_a_file_that_reads_costs_no_diagnosis():
    # The reasons are found only after a failure: a statement that reads carries no note.
    assert tarvik.read(SAMPLE).statement.documents
