#!/usr/bin/python3
"""Writes a large synthetic SWREG sales report and the three customer lists.

    generate.py OUTDIR [--orders N] [--products P] [--list-entries L] [--seed S]

OUTDIR/report.csv holds N order lines (default 1,000,000, about 130 MB) over
P products; OUTDIR/bozos.txt, Address.txt and goodguys.txt hold L entries
each (default 100,000), about 1% of which name customers of the report.
With --shopify, OUTDIR/shopify.csv holds N rows of an order export with a
header row instead: quoted fields, some holding commas or line breaks, and
one order in five with a second item row that gives only the order number
and the item.
Everything is invented; addresses are under example.com and example.org.
"""
import argparse
import os
import random

FIRST = ["Ann", "Bob", "Carol", "Dave", "Erin", "Frank", "Grace", "Henry", "Ivy", "Jack",
         "Kate", "Liam", "Mia", "Noah", "Olivia", "Paul", "Quinn", "Rosa", "Sam", "Tina"]
LAST = ["Archer", "Baker", "Cooper", "Dalton", "Evans", "Fisher", "Garner", "Hill",
        "Irving", "Jones", "Keller", "Lopez", "Miller", "Nolan", "Owens", "Parker"]
DAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"]


def address(rng, i):
    first, last = rng.choice(FIRST), rng.choice(LAST)
    domain = "example.com" if i % 2 else "example.org"
    style = i % 3
    if style == 0:
        return f"{first.lower()}.{last.lower()}{i}@{domain}"
    if style == 1:
        return f"{first}{last}{i}@{domain}"
    return f"{first[0].lower()}{last.lower()}_{i}@mail.{domain}"


SHOPIFY_HEADER = ("Name,Email,Financial Status,Paid at,Fulfillment Status,Fulfilled at,Accepts Marketing,"
                  "Currency,Subtotal,Shipping,Taxes,Total,Discount Code,Created at,Lineitem quantity,"
                  "Lineitem name,Lineitem price,Lineitem sku,Billing Name,Billing Street,Billing City,"
                  "Billing Zip,Billing Country,Notes,Payment Method\n")


def write_shopify(rng, a, products):
    with open(os.path.join(a.outdir, "shopify.csv"), "w", newline="", encoding="utf-8") as f:
        f.write(SHOPIFY_HEADER)
        chunk = []
        rows = 0
        order = 1000
        while rows < a.orders:
            order += 1
            mail = address(rng, order)
            first, last = rng.choice(FIRST), rng.choice(LAST)
            day = f"2026-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d}"
            when = f"{day} {rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d} +0100"
            status = "refunded" if order % 50 == 0 else "paid"
            street = f'"{rng.randint(1, 999)} Main St, Apt {rng.randint(1, 40)}"'
            notes = '"Gift, please wrap\nwith the blue paper"' if order % 10 == 0 else ""
            product = products[order % len(products)]
            chunk.append(f"#{order},{mail},{status},{when},fulfilled,{when},no,EUR,19.95,0.00,3.19,19.95,,"
                         f"{when},1,{product},19.95,SKU-{order % 7},{first} {last},{street},Springfield,"
                         f"12345,US,{notes},card\n")
            rows += 1
            if order % 5 == 0 and rows < a.orders:
                chunk.append(f"#{order},,,,,,,,,,,,,,1,{products[(order + 1) % len(products)]},29.95,"
                             f"SKU-9,,,,,,,\n")
                rows += 1
            if len(chunk) >= 10000:
                f.write("".join(chunk))
                chunk = []
        f.write("".join(chunk))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("outdir")
    ap.add_argument("--orders", type=int, default=1_000_000)
    ap.add_argument("--products", type=int, default=5)
    ap.add_argument("--list-entries", type=int, default=100_000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--shopify", action="store_true")
    a = ap.parse_args()
    rng = random.Random(a.seed)
    os.makedirs(a.outdir, exist_ok=True)
    products = ["Tool", "Tool Pro", "Widget Studio", "Photo Fixer", "Disk Doctor"]
    while len(products) < a.products:
        products.append(f"Product {len(products) + 1}")
    products = products[:a.products]

    if a.shopify:
        write_shopify(rng, a, products)
        return
    sample = []  # report addresses that the lists will name
    with open(os.path.join(a.outdir, "report.csv"), "w", newline="", encoding="utf-8") as f:
        chunk = []
        for i in range(a.orders):
            mail = address(rng, i)
            if i % 97 == 0:
                sample.append(mail)
            first, last = rng.choice(FIRST), rng.choice(LAST)
            date = (f"{rng.choice(DAYS)} {rng.choice(MONTHS)} {rng.randint(1, 28):02d} "
                    f"{rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d} 2002")
            chunk.append(f"2417,{date},{1000000 + i},{products[i % len(products)]},{mail},"
                         f"19.95,USD,US,creditcard,{first},{last},completed,web\r\n")
            if len(chunk) == 10000:
                f.write("".join(chunk))
                chunk = []
        f.write("".join(chunk))

    def listed(k, j):
        # about 1% of the entries name a customer of the report
        if sample and j % 100 == k:
            return sample[(j // 100 + k * 2000) % len(sample)].upper() if j % 200 == k else sample[(j // 100 + k * 2000) % len(sample)]
        return f"other{k}.{j}@example.net".replace("example.net", "example.org")

    n = a.list_entries
    with open(os.path.join(a.outdir, "bozos.txt"), "w", newline="", encoding="utf-8") as f:
        f.write("".join(listed(1, j) + "\r\n" for j in range(n)))
    with open(os.path.join(a.outdir, "Address.txt"), "w", newline="", encoding="utf-8") as f:
        f.write("".join(f"{listed(2, j)} new.{j}@example.com\r\n" for j in range(n)))
    with open(os.path.join(a.outdir, "goodguys.txt"), "w", newline="", encoding="utf-8") as f:
        f.write("".join(f"{listed(3, j)} GG-{j} {products[j % len(products)] if j % 5 else 'All'}\r\n"
                        for j in range(n)))


if __name__ == "__main__":
    main()
