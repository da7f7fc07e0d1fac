"""Write payment orders for the bank (the 1c_to_kl.txt file) with tarvik, and read them back.

Usage: python payment_orders.py [-o OUT.txt]   (default: print the file's text)

The orders are plain dicts, as an accounting program or a spreadsheet would give them; tarvik
checks every field before writing and refuses, naming the order and field, what a bank or
the reader would not take.
"""

import argparse
import datetime
import decimal
import pathlib
import sys

import tarvik

PAYER = {
    "counterparty_account": "40702810900000012345",
    "counterparty_inn": "7701234567",
    "counterparty_kpp": "770101001",
    "counterparty": "ООО «Северный ветер»",
    "counterparty_bank1": "ПАО СБЕРБАНК",
    "counterparty_bic": "044525225",
    "counterparty_cor_account": "30101810400000000225",
}

ORDERS: list[dict[str, object]] = [
    {
        **PAYER,
        "doc_number": "512",
        "doc_date": datetime.date(2024, 4, 2),
        "amount": decimal.Decimal("43200.00"),
        "payee_account": "40702810138000004321",
        "payee_inn": "5029012345",
        "payee_kpp": "502901001",
        "payee": "АО «Торговый дом \"Ладога\"»",
        "payee_bank1": "ПАО СБЕРБАНК",
        "payee_bic": "044525225",
        "payee_cor_account": "30101810400000000225",
        "payment_type": "01",
        "ordering": "5",
        "purpose": "Оплата по счету № 1187 от 28.03.2024, в т.ч. НДС 20% 7200.00",
        "extra": {"Код": "0", "ВидПлатежа": "электронно"},
    },
    {
        **PAYER,
        "doc_number": "513",
        "doc_date": "2024-04-02",
        "amount": "1500",
        "payee_account": "03100643000000017300",
        "payee_inn": "7727406020",
        "payee_kpp": "770801001",
        "payee": "Казначейство России (ФНС России)",
        "payee_bank1": "ОКЦ № 2 ГУ Банка России по ЦФО",
        "payee_bic": "024501901",
        "payee_cor_account": "40102810445370000059",
        "payment_type": "01",
        "ordering": "5",
        "purpose": "Налог на прибыль за 1 квартал 2024 г.",
        "extra": {"СтатусСоставителя": "01", "ПоказательКБК": "18210101011011000110"},
    },
]


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description="Write payment orders for the bank.")
    parser.add_argument("-o", "--output", type=pathlib.Path, help="file to write (default: stdout)")
    args = parser.parse_args(argv[1:])
    header = {
        "ВерсияФормата": "1.03",
        "Кодировка": "Windows",
        "Отправитель": "Бухгалтерия предприятия, редакция 3.0",
        "Получатель": "",
        "ДатаСоздания": "02.04.2024",
        "ВремяСоздания": "10:00:00",
        "ДатаНачала": "02.04.2024",
        "ДатаКонца": "02.04.2024",
        "РасчСчет": PAYER["counterparty_account"],
        "Документ": "Платежное поручение",
    }
    try:
        data = tarvik.write(ORDERS, header=header, encoding="cp1251", direction="to_bank")
    except tarvik.WriteError as exc:
        print(f"not written: {exc}", file=sys.stderr)
        return 1
    back = tarvik.read(data, repairs=False).statement
    assert [d.amount for d in back.documents] == ["43200.00", "1500"]
    if args.output:
        args.output.write_bytes(data)
        print(f"{len(back.documents)} payment orders written to {args.output}", file=sys.stderr)
    else:
        sys.stdout.write(data.decode("cp1251").replace("\r\n", "\n"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
