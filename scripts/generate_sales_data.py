#!/usr/bin/env python3
"""Writes the CSV tables of the sample cube "Sales" (examples/sales/).

The data are deterministic (fixed seed), so the committed files can be regenerated exactly:
    python3 scripts/generate_sales_data.py [output-directory]
"""
import calendar
import os
import random
import sys

SEED = 20240701
YEARS = (2023, 2024, 2025)

# category -> subcategory -> [(item, unit price, unit cost)]
PRODUCTS = {
    "Bikes": {
        "Road": [("Road-150", 1450.0, 910.0), ("Road-350", 1120.0, 700.0), ("Road-550", 780.0, 470.0)],
        "Mountain": [("Mountain-100", 1650.0, 1020.0), ("Mountain-300", 980.0, 610.0), ("Mountain-500", 640.0, 380.0)],
        "Touring": [("Touring-1000", 1380.0, 860.0), ("Touring-3000", 820.0, 505.0)],
    },
    "Accessories": {
        "Helmets": [("Helmet Sport", 55.0, 21.0), ("Helmet Urban", 42.0, 16.0)],
        "Lights": [("Headlight", 38.0, 13.0), ("Taillight", 19.0, 6.5)],
        "Locks": [("Cable Lock", 24.0, 8.0), ("U-Lock", 49.0, 18.0)],
    },
    "Clothing": {
        "Jerseys": [("Jersey Short Sleeve", 48.0, 19.0), ("Jersey Long Sleeve", 59.0, 24.0)],
        "Gloves": [("Gloves Half Finger", 22.0, 8.5), ("Gloves Full Finger", 27.0, 10.0)],
        "Shorts": [("Bib Shorts", 69.0, 27.0), ("Baggy Shorts", 45.0, 17.0)],
    },
    "Components": {
        "Chains": [("Chain 10s", 35.0, 14.0), ("Chain 12s", 52.0, 22.0)],
        "Brakes": [("Disc Brake Set", 145.0, 68.0), ("Rim Brake Set", 64.0, 27.0)],
        "Wheels": [("Wheelset Carbon", 980.0, 560.0), ("Wheelset Alloy", 320.0, 170.0)],
    },
}

# region -> country -> [city]
CITIES = {
    "Europe": {
        "France": ["Paris", "Lyon"],
        "Germany": ["Berlin", "Munich", "Hamburg"],
        "Italy": ["Milan", "Rome"],
    },
    "North America": {
        "United States": ["New York", "Chicago", "Seattle"],
        "Canada": ["Toronto", "Vancouver"],
    },
    "Pacific": {
        "Australia": ["Sydney", "Melbourne"],
        "Japan": ["Tokyo", "Osaka"],
    },
}


def write_csv(path, header, rows):
    with open(path, "w", encoding="utf-8", newline="\n") as out:
        out.write(",".join(header) + "\n")
        for row in rows:
            out.write(",".join(row) + "\n")


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "examples", "sales")
    rng = random.Random(SEED)

    products = []
    prices = {}
    for category, subcategories in PRODUCTS.items():
        for subcategory, items in subcategories.items():
            for item, price, cost in items:
                products.append((item, subcategory, category))
                prices[item] = (price, cost)
    write_csv(os.path.join(outdir, "products.csv"), ["item", "subcategory", "category"], products)

    cities = [(city, country, region)
              for region, countries in CITIES.items()
              for country, names in countries.items()
              for city in names]
    write_csv(os.path.join(outdir, "cities.csv"), ["city", "country", "region"], cities)

    months = []
    for year in YEARS:
        for month in range(1, 13):
            fiscal_year = year + 1 if month >= 7 else year
            fiscal_quarter = ((month - 7) % 12) // 3 + 1
            months.append((f"{year}-{month:02d}", str(year), f"Q{(month - 1) // 3 + 1}",
                           calendar.month_abbr[month], f"FY{fiscal_year}", f"Q{fiscal_quarter}",
                           str(calendar.monthrange(year, month)[1])))
    write_csv(os.path.join(outdir, "months.csv"),
              ["month", "year", "quarter", "month_name", "fiscal_year", "fiscal_quarter", "days"],
              months)

    # Demand grows over the years and peaks in spring and summer; bikes sell less often than
    # accessories.
    facts = []
    for index, (month_key, *_rest) in enumerate(months):
        month = int(month_key[5:])
        season = 1.0 + 0.35 * (1 if 4 <= month <= 8 else 0)
        growth = 1.0 + 0.08 * (index // 12)
        for item, subcategory, category in products:
            for city, _country, _region in cities:
                if rng.random() >= 0.72:
                    continue
                base = 3 if category == "Bikes" else 12
                quantity = max(1, int(rng.gauss(base, base / 3) * season * growth))
                price, cost = prices[item]
                discount = rng.choice((1.0, 1.0, 1.0, 0.95, 0.9))
                sales = round(quantity * price * discount, 2)
                facts.append((month_key, item, city, f"{sales:.2f}", str(quantity),
                              f"{quantity * cost:.2f}"))
    write_csv(os.path.join(outdir, "facts.csv"),
              ["month", "item", "city", "sales", "quantity", "cost"],
              [(m, f'"{i}"' if "," in i else i, c, s, q, k) for m, i, c, s, q, k in facts])
    print(f"{len(products)} products, {len(cities)} cities, {len(months)} months, {len(facts)} facts")


if __name__ == "__main__":
    main()
