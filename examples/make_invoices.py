#!/usr/bin/env python3
"""Writes the example invoice store in examples/invoices (run from anywhere).

Form 'fac': header 0 invoice number (the H key), 1 client code (key into
clients.db, which has the key index 'clients'), 2 client city (derived),
3 date ddmmyyyy, 4 net amount, 5 discount %, 6 total (formula), 7 amount per
box (formula, divides by field 8), 8 boxes. Four detail lines of 0 article
code (key into articles.db, no key index), 1 description (derived),
2 quantity, 3 price, 4 line total (formula).
"""
import os

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "invoices")
os.makedirs(here, exist_ok=True)

def w(name, text):
    with open(os.path.join(here, name), "w", newline="") as f:
        f.write(text)

clients = [("C00001", "ACME S.A.", "Madrid"), ("C00002", "Ferreteria Norte", "Bilbao"),
           ("C00003", "Textil del Sur SL", "Sevilla"), ("C00004", "Maderas Vigo", "Vigo"),
           ("C00005", "Quimica Levante", "Valencia"), ("C00006", "00123 Almacenes", "08001")]
w("clients.db", "".join(f"{c}{n:<30}{t:<20}".ljust(79) + "\n" for c, n, t in clients))
w("clients", "".join(c for c, _, _ in clients))

articles = [("A0000001", "Tornillo 4x20 zincado", 0.05), ("A0000002", "Tuerca M4", 0.03),
            ("A0000003", "Arandela plana M4", 0.02), ("A0000004", "Cable 2,5mm rollo 100m", 48.90),
            ("A0000005", "Tubo cobre 15mm", 7.35), ("A0000006", "Valvula esfera 1/2", 6.10),
            ("A0000007", "Brida DN50", 21.00), ("A0000008", "Tornillo hexagonal M8", 0.40)]
w("articles.db", "".join(f"{c}{d:<30}{p:10.2f}".ljust(59) + "\n" for c, d, p in articles))

form = ["9 4 5 0",
        "1 1 6 0",
        "1 10 6 50 clients.db 80 6 30",
        "2 10 12 40 1 36 20",
        "1 60 8 8",
        "3 10 10 3",
        "3 30 5 1",
        "4 10 12 30",
        "4 30 12 30",
        "3 50 4 1"]
for line in range(4):
    r = 7 + line
    if line == 0:
        form += [f"{r} 1 8 51 articles.db 60 8 30", f"{r} 10 24 41 0 8 30",
                 f"{r} 35 5 1", f"{r} 41 10 3", f"{r} 52 12 30"]
    else:
        form += [f"{r} 1 8 51", f"{r} 10 24 41", f"{r} 35 5 1", f"{r} 41 10 3", f"{r} 52 12 30"]
w("fac", "\n".join(form) + "\n")
# Screen masks: the header part (rows 0 to 5) and the detail heading
# (row 6), in the fields' own rows and columns; row 0 and column 0 lie on
# the frame that browse draws around the form.
w("fac.0", " FACTURA  CLIENTE\n                                                     FECHA\n CIUDAD\n IMPORTE               DTO %               BULTOS\n TOTAL                 /BULTO\n\n")
w("fac.1", " ARTICULO DESCRIPCION               CANT     PRECIO        TOTAL\n")
w("fac.c0", "h06 h04 h04 h05 * 100 / -\nh07 h06 h08 /\nd04 d02 d03 *\n")

# (number, client, date, amount, discount, boxes, lines); a line is None (absent),
# "blank" (a deleted line whose article code is blank), or (article, quantity, price).
docs = [
    ("000101", "C00001", "05012024", 1250.00, 5, 3,
     [("A0000001", 500, 0.05), ("A0000002", 500, 0.03), ("A0000004", 2, 48.90), None]),
    ("000102", "C00002", "09012024", 95.50, 0, 1, [("A0000005", 10, 7.35), None, None, None]),
    ("000103", "C00003", "15012024", 310.00, 10, 0,
     [("A0000006", 20, 6.10), "blank", ("A0000007", 5, 21.00), None]),
    ("000104", "X99999", "20012024", 42.00, 0, 2, [("A0000008", 100, 0.40), None, None, None]),
    ("000105", "C00004", "02022024", 880.25, 2, 4, [None, None, None, None]),
    ("000106", "C00001", "11022024", 15.00, 0, 1,
     [("A0000003", 300, 0.02), ("Z0000009", 7, 1.25), ("A0000001", 100, 0.05), None]),
    ("000107", "C00005", "23022024", 2200.00, 15, 8,
     [("A0000004", 40, 48.90), ("A0000005", 12, 7.35), ("A0000006", 3, 6.10), ("A0000007", 1, 21.00)]),
    ("000108", "C00006", "01032024", 64.80, 0, 0, ["blank", "blank", None, None]),
    ("000109", "C00002", "14032024", 120.00, 5, 2,
     [("A0000008", 150, 0.40), ("A0000002", 200, 0.03), None, None]),
    ("000110", "C00003", "29032024", 0.00, 0, 0, [None, None, None, None]),
    ("000111", "C00004", "05042024", 735.10, 3, 5,
     [("A0000005", 50, 7.35), None, ("A0000001", 1000, 0.05), None]),
    ("000112", "C00001", "18042024", 98.00, 0, 1, [("A0000007", 4, 21.00), ("A0000003", 900, 0.02), None, None]),
]
head, doc, index = [], [], []
for num, client, date, amount, disc, boxes, lines in docs:
    ptrs = []
    for l in lines:
        if l is None:
            ptrs.append(-1)
            continue
        ptrs.append(len(doc))
        if l == "blank":
            doc.append(" " * 23 + f"{num[1:]}\n")
        else:
            art, qty, price = l
            doc.append(f"{art}{qty:5d}{price:10.2f}{num[1:]}\n")
    head.append(f"{num}{client}{date}{amount:10.2f}{disc:5d}{boxes:4d}" + "".join(f"{p:6d}" for p in ptrs) + "\n")
    index.append(num)
w("HEAD", "".join(head))
w("DOC", "".join(doc))
w("H", "".join(index))
w("INFO", f"{len(docs):12d}")
