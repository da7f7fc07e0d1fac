"""Statement texts for the tests, written as lines so that a test can name the line it means."""

MARKER = "1CClientBankExchange"

HEADER = [
    "ВерсияФормата=1.03",
    "Кодировка=Windows",
    "Отправитель=Бухгалтерия",
    "Получатель=",
    "ДатаСоздания=05.03.2024",
]

ACCOUNT = {
    "ДатаНачала": "01.03.2024",
    "ДатаКонца": "31.03.2024",
    "РасчСчет": "40702810000000000001",
    "НачальныйОстаток": "1000.00",
    "ВсегоПоступило": "500.00",
    "ВсегоСписано": "200.00",
    "КонечныйОстаток": "1300.00",
}

# The thirteen keys a document needs, and nothing else.
DOCUMENT = {
    "Номер": "17",
    "Дата": "05.03.2024",
    "Сумма": "1500.00",
    "ПлательщикСчет": "40702810000000000001",
    "ПлательщикИНН": "7700000001",
    "ПлательщикБИК": "044525225",
    "ПлательщикБанк1": "ПАО Сбербанк",
    "ПолучательСчет": "40702810000000000002",
    "ПолучательИНН": "7700000002",
    "ПолучательБИК": "044525226",
    "ПолучательБанк1": "АО «Банк»",
    "НазначениеПлатежа": "Оплата по счёту №5",
}


def _merged(base, changes):
    fields = dict(base)
    for key, value in (changes or {}).items():
        if value is None:
            fields.pop(key, None)
        else:
            fields[key] = value
    return fields


def account_section(changes=None):
    """Lines of an account section; a change to None drops the key."""
    fields = _merged(ACCOUNT, changes)
    return ["СекцияРасчСчет", *(f"{k}={v}" for k, v in fields.items()), "КонецРасчСчет"]


def document_section(changes=None, doc_type="Платежное поручение"):
    """Lines of a document section; a change to None drops the key."""
    fields = _merged(DOCUMENT, changes)
    return [f"СекцияДокумент={doc_type}", *(f"{k}={v}" for k, v in fields.items()), "КонецДокумента"]


def statement_lines(*sections, header=HEADER):
    lines = [MARKER, *header]
    for section in sections:
        lines.extend(section)
    lines.append("КонецФайла")
    return lines


def text(lines, eol="\r\n"):
    return eol.join(lines) + eol


def utf8(lines):
    return text(lines).encode("utf-8")


def cp1251(lines):
    return text(lines).encode("cp1251")


def line_of(lines, wanted, nth=1):
    """1-based number of the nth line equal to `wanted`."""
    seen = 0
    for number, line in enumerate(lines, 1):
        if line == wanted:
            seen += 1
            if seen == nth:
                return number
    raise ValueError(wanted)


def mid_size(documents=40):
    """A statement of a few kilobytes: two accounts and `documents` documents."""
    sections = [account_section(), account_section({"РасчСчет": "40702810000000000009"})]
    for i in range(documents):
        sections.append(document_section({"Номер": str(i), "Сумма": f"{i}.{i % 100:02d}"}))
    return statement_lines(*sections)
