"""The benchmarks' grower: a real file grown by its documents reads as the original, k times over."""

import os
import sys
from pathlib import Path

import pytest

import tarvik
import tarvik_py

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
import grow_corpus  # noqa: E402

CORPUS = Path(os.environ.get("TARVIK_CORPUS", ROOT.parent / "shared" / "corpus" / "real"))

HEAD = "1CClientBankExchange\nВерсияФормата=1.03\nСекцияРасчСчет\nРасчСчет=1\nКонецРасчСчет\n"
DOC_A = "СекцияДокумент=Платежное поручение\nНомер=1\nКонецДокумента\n"
DOC_B = "СекцияДокумент=Банковский ордер\nНомер=2\nКонецДокумента\n"
ACCOUNT = "СекцияРасчСчет\nРасчСчет=2\nКонецРасчСчет\n"
END = "КонецФайла\n"


def crlf(text: str) -> str:
    return text.replace("\n", "\r\n")


@pytest.mark.parametrize(
    ("text", "encoding", "documents", "tail"),
    [
        (HEAD + DOC_A + DOC_B + END, "utf-8", [DOC_A, DOC_B], END),
        (crlf(HEAD + DOC_A + DOC_B + END), "cp1251", [crlf(DOC_A), crlf(DOC_B)], crlf(END)),
        # Blank lines, white space included, go with the document before them.
        (HEAD + DOC_A + "\n \n" + DOC_B + "\r\n" + END, "utf-8", [DOC_A + "\n \n", DOC_B + "\r\n"], END),
        # A bare opening line, as some writers put it, and no "КонецФайла".
        (HEAD + "СекцияДокумент\nКонецДокумента\n", "cp1251", ["СекцияДокумент\nКонецДокумента\n"], ""),
        # An account section between documents stays in the body, not in the rounds.
        (HEAD + DOC_A + ACCOUNT + DOC_B + END, "utf-8", [DOC_A, DOC_B], END),
        # A line that only starts like the keyword opens nothing.
        (HEAD + "СекцияДокументы=x\n" + DOC_A + END, "utf-8", [DOC_A], END),
    ],
    ids=["lf", "crlf-cp1251", "blank-lines", "bare-opening", "account-between", "not-the-keyword"],
)
def test_split_finds_the_documents(text: str, encoding: str, documents: list[str], tail: str) -> None:
    data = text.encode(encoding)
    layout = grow_corpus.split(data)
    assert layout.head + layout.body + layout.tail == data
    assert layout.documents == tuple(d.encode(encoding) for d in documents)
    assert layout.tail == tail.encode(encoding)
    grown, rounds = grow_corpus.grow(data, len(data) + 1)
    assert rounds == 2
    assert grown == layout.head + layout.body + b"".join(layout.documents) + layout.tail


@pytest.mark.parametrize(
    ("text", "message"),
    [
        (HEAD + END, "no document section to repeat"),
        (HEAD + "СекцияДокумент=x\nНомер=1\n" + END, "line 6: a document section is not closed"),
        (HEAD + "СекцияДокумент=x\n" + DOC_A + END, "line 6: a document section is not closed"),
        (HEAD + DOC_A.removesuffix("\n"), "line 8: the last document section ends the file"),
    ],
    ids=["no-document", "unclosed", "opened-twice", "no-line-end"],
)
def test_split_refuses(text: str, message: str) -> None:
    with pytest.raises(ValueError, match=f"^{message}$"):
        grow_corpus.split(text.encode())


@pytest.mark.parametrize("size", [0, 100, 10_000, 100_001])
def test_grows_in_whole_rounds_to_the_size(size: int) -> None:
    data = (HEAD + DOC_A + DOC_B + END).encode()
    grown, rounds = grow_corpus.grow(data, size)
    layout = grow_corpus.split(data)
    assert len(grown) == len(data) + (rounds - 1) * layout.round_bytes
    assert len(grown) >= size
    assert rounds == 1 or len(grown) - layout.round_bytes < size


def readable_corpus() -> list[Path]:
    if not CORPUS.is_dir():
        return []
    out = []
    for path in sorted(CORPUS.glob("*.txt")):
        try:
            if tarvik.read(path).statement.documents:
                out.append(path)
        except tarvik_py.ParseError:
            pass  # what does not read cannot be grown
    return out


@pytest.mark.skipif(not CORPUS.is_dir(), reason="no corpus beside the project")
@pytest.mark.parametrize("path", readable_corpus(), ids=lambda p: p.name)
def test_grown_corpus_file_reads_as_the_original_repeated(path: Path, tmp_path: Path) -> None:
    data = path.read_bytes()
    layout = grow_corpus.split(data)
    out = tmp_path / "grown.txt"
    meta = grow_corpus.write(path, (len(data) + 2 * layout.round_bytes) / grow_corpus.MB, out)
    rounds = 3
    assert meta["rounds"] == rounds and meta["document_sections"] == rounds * len(layout.documents)
    original, grown = tarvik.read(data), tarvik.read(out)
    assert grown.encoding == original.encoding
    assert grown.statement.header == original.statement.header
    assert grown.statement.accounts == original.statement.accounts
    assert grown.statement.documents == original.statement.documents * rounds
    # Every change of the original, once per round, each on its line in that round's copy.
    lines = sum(d.count(b"\n") for d in layout.documents)
    want = [
        (c.lineno + r * lines, c.repair, c.key, c.old, c.new, c.message)
        for r in range(rounds)
        for c in original.changes
    ]
    got = [(c.lineno, c.repair, c.key, c.old, c.new, c.message) for c in grown.changes]
    assert got == want
    assert grown.document_lines() == [n + r * lines for r in range(rounds) for n in original.document_lines()]
    assert [m for _, m in grown.statement.warnings] == [m for _, m in original.statement.warnings] * rounds


@pytest.mark.skipif(not CORPUS.is_dir(), reason="no corpus beside the project")
@pytest.mark.parametrize("path", readable_corpus(), ids=lambda p: p.name)
def test_damage_grown_reads_as_the_whole_grown_with_a_skipped_line_for_each(path: Path, tmp_path: Path) -> None:
    data = path.read_bytes()
    layout = grow_corpus.split(data)
    size_mb = (len(data) + 2 * layout.round_bytes) / grow_corpus.MB
    whole = grow_corpus.write(path, size_mb, tmp_path / "whole.txt")
    meta = grow_corpus.write(path, size_mb, tmp_path / "damaged.txt", damage=True)
    assert meta["damaged_lines"] == (whole["rounds"] - 1) * len(layout.documents)
    plain, damaged = tarvik.read(tmp_path / "whole.txt"), tarvik.read(tmp_path / "damaged.txt")
    assert damaged.statement.documents == plain.statement.documents
    assert damaged.statement.accounts == plain.statement.accounts
    skipped = [c for c in damaged.changes if c.repair == "skipped_line"]
    assert len(skipped) == meta["damaged_lines"]
    assert all(c.old == grow_corpus.DAMAGE_LINE.decode() for c in skipped)
