#!/usr/bin/env python3
"""Writes tests/fixtures/expressions.txt: expressions over the sample cube "Sales" for the
expression benchmark and the round-trip tests. Deterministic (fixed seed)."""
import random
import sys

rng = random.Random(20240611)

LEVELS = ["{[Product].[Category]}", "{[Product].[Subcategory]}", "{[Product].[Item]}",
          "{[Geography].[Region]}", "{[Geography].[Country]}", "{[Geography].[City]}",
          "{[Time].[Calendar].[Year]}", "{[Time].[Calendar].[Quarter]}",
          "{[Time].[Calendar].[Month]}", "Category", "Region", "City", "Year"]
MEMBERS = ["{[Product].[Bikes]}", "{[Product].[Bikes].[Road]}",
           "{[Product].[Bikes].[Road].[Road-150]}", "{[Product].[All]}",
           "{[Geography].[Europe]}", "{[Geography].[Europe].[France]}",
           "{[Geography].[Europe].[France].[Paris]}", "{[Time].[Calendar].[2024]}",
           "{[Time].[Calendar].[2024].[Q1]}", "{[Time].[Calendar].[2024].[Q1].[Jan]}",
           "Bikes", "Paris"]
MEASURES = ["{[Measures].[Sales]}", "{[Measures].[Quantity]}", "{[Measures].[Cost]}",
            "Sales", "Quantity", "Cost"]
DIMENSIONS = ["{[Product]}", "{[Geography]}", "{[Time].[Calendar]}", "{[Time]}", "Product"]
NUMBERS = ["1", "2", "3", "5", "10", "25", "100", "0.5", "1.25", "2k", "15%", "1 000",
           "3.75", "42", "7"]


def kw(word):
    r = rng.random()
    if r < 0.15:
        return word.upper()
    if r < 0.25:
        return word.lower()
    return word


def call(word, *args):
    sep = rng.choice([", ", ",", " , "])
    return kw(word) + rng.choice(["(", " ("]) + sep.join(args) + ")"


def level(d):
    if d > 2 and rng.random() < 0.2:
        return call("Level", member(d - 1))
    return rng.choice(LEVELS)


def dimension(d):
    if d > 2 and rng.random() < 0.2:
        return call("Dimension", member(d - 1))
    return rng.choice(DIMENSIONS)


def member(d):
    if d <= 0 or rng.random() < 0.35:
        return rng.choice(MEMBERS + MEASURES)
    m = member(d - 1)
    return rng.choice([
        lambda: call("Parent", m), lambda: call("FirstChild", m), lambda: call("LastChild", m),
        lambda: call("PrevMember", m), lambda: call("NextMember", m),
        lambda: call("Lag", m, numeric(0)), lambda: call("Lead", m, numeric(0)),
        lambda: call("Ancestor", m, level(d)), lambda: call("Cousin", m, member(d - 1)),
        lambda: call("OpeningPeriod", level(d), m), lambda: call("ClosingPeriod", m),
        lambda: call("ParallelPeriod", level(d), numeric(0), m),
        lambda: call("CurrentMember", dimension(d)), lambda: call("DefaultMember", dimension(d)),
        lambda: call("FirstSibling", m), lambda: call("LastSibling", m),
        lambda: call("Item", m, numeric(0)),
    ])()


def set_(d):
    if d <= 0:
        return call("Members", level(0))
    s = lambda: set_(d - 1)
    n = lambda: numeric(d - 1)
    return rng.choice([
        lambda: call("Members", level(d)), lambda: call("Members", level(d)) ,
        lambda: call("Children", member(d - 1)), lambda: call("Descendants", member(d - 1), level(d)),
        lambda: call("Descendants", member(d - 1), level(d), rng.choice(["SELF", "AFTER", "BEFORE", "SELF_AND_AFTER", "LEAVES", "SELF_BEFORE_AFTER"])),
        lambda: call("TopCount", s(), numeric(0), n()), lambda: call("BottomCount", s(), numeric(0), n()),
        lambda: call("TopPercent", s(), numeric(0), n()), lambda: call("TopSum", s(), numeric(0), n()),
        lambda: call("Filter", s(), logical(d - 1)), lambda: call("Order", s(), n(), rng.choice(["ASC", "DESC", "BASC", "BDESC"])),
        lambda: call("Crossjoin", s(), s()), lambda: s() + " * " + s(), lambda: s() + " + " + s(),
        lambda: call("Union", s(), s(), "ALL"), lambda: call("Intersect", s(), s()),
        lambda: call("Except", s(), s()), lambda: call("Head", s(), numeric(0)),
        lambda: call("Tail", s(), numeric(0)), lambda: call("Subset", s(), numeric(0), numeric(0)),
        lambda: call("Hierarchize", s()), lambda: call("Hierarchize", s(), "POST"),
        lambda: call("Distinct", s()), lambda: call("Generate", s(), s(), "ALL"),
        lambda: call("DrillDownLevel", s(), level(d)), lambda: call("DrillDownMember", s(), s(), "RECURSIVE"),
        lambda: call("DrillUpMember", s(), s()), lambda: call("ToggleDrillState", s(), s()),
        lambda: call("Siblings", member(d - 1)), lambda: call("Ancestors", member(d - 1), level(d)),
        lambda: call("LastPeriods", numeric(0), member(d - 1)), lambda: call("PeriodsToDate", level(d), member(d - 1)),
        lambda: call("Ytd", member(d - 1)), lambda: call("AddCalculatedMembers", s()),
        lambda: call("StripCalculatedMembers", s()), lambda: call("Extract", s(), dimension(d)),
        lambda: call("NonEmptyCrossJoin", s(), s()), lambda: call("Set", member(d - 1), member(d - 1)),
        lambda: call("Set", member(d - 1) + ":" + member(d - 1)),
        lambda: call("AllMembers", dimension(d)), lambda: call("CurrentSet") if False else call("Members", level(d)),
    ])()


def numeric(d):
    if d <= 0 or rng.random() < 0.25:
        return rng.choice(NUMBERS + MEASURES)
    s = lambda: set_(d - 1)
    n = lambda: numeric(d - 1)
    return rng.choice([
        lambda: n() + " + " + n(), lambda: n() + " - " + n(), lambda: n() + " * " + n(),
        lambda: n() + " / " + n(), lambda: "(" + n() + " + " + n() + ")", lambda: "-" + n(),
        lambda: n() + " ^ 2", lambda: call("Sum", s(), n()), lambda: call("Avg", s(), n()),
        lambda: call("Count", s()), lambda: call("Count", s(), "EXCLUDEEMPTY"),
        lambda: call("Max", s(), n()), lambda: call("Min", s(), n()), lambda: call("Median", s(), n()),
        lambda: call("Stdev", s(), n()), lambda: call("Var", s(), n()),
        lambda: call("Correlation", s(), n(), n()), lambda: call("LinRegSlope", s(), n(), n()),
        lambda: call("Rank", member(d - 1), s()), lambda: call("IIf", logical(d - 1), n(), n()),
        lambda: call("Abs", n()), lambda: call("Round", n(), "2"), lambda: call("Sqr", n()),
        lambda: call("Log", n()), lambda: call("Int", n()), lambda: call("Remainder", n(), n()),
        lambda: call("CoalesceEmpty", n(), n()), lambda: call("DistinctCount", s()),
        lambda: call("Value", member(d - 1)), lambda: call("Y_T_D", member(d - 1)),
        lambda: call("Ordinal", level(d)), lambda: member(d - 1),
    ])()


def logical(d):
    if d <= 0:
        return rng.choice(MEASURES) + rng.choice([" > ", " < ", " >= ", " <= ", " = ", " <> "]) + rng.choice(NUMBERS)
    n = lambda: numeric(d - 1)
    l = lambda: logical(d - 1)
    return rng.choice([
        lambda: n() + rng.choice([" > ", " < ", " >= ", " <= ", " = ", " <> "]) + n(),
        lambda: l() + " AND " + l(), lambda: l() + " OR " + l(), lambda: "NOT " + l(),
        lambda: "(" + l() + " OR " + l() + ") AND " + l(), lambda: l() + " XOR " + l(),
        lambda: call("IsEmpty", n()), lambda: call("IsLeaf", member(d - 1)),
        lambda: call("IsAncestor", member(d - 1), member(d - 1)),
        lambda: member(d - 1) + " IS " + member(d - 1), lambda: member(d - 1) + " IS NULL",
        lambda: call("Between", n(), n(), n()), lambda: rng.choice(["TRUE", "FALSE"]),
    ])()


def top():
    d = rng.randint(1, 7) if rng.random() < 0.3 else rng.randint(1, 5)
    return rng.choice([set_, set_, numeric, logical])(d)


# Fixed forms after the random ones: scale suffixes and "%" only directly after the digits,
# the operators they used to swallow, placeholders, numbers that need every digit, names with
# operator characters in brackets, the levels of the logical operators, signed exponents and
# a long left-associative chain.
FIXED = [
    "7 MOD 3 + 7 mod 3 * Sales - 5 % 3",
    "Sales mod 3 > 1 AND 20% < Cost / 2k OR 3m > 3M",
    "Abs(<<[Rate]>>) + Sales * <<[Factor]>> - 1 000.5k",
    "Sales > <<[Threshold]>> AND Cost < 15% OR Quantity % 4 = 1",
    "Sales > 1234567.891234 OR Cost < 123456789012345 - 0.1",
    "IsLeaf([Product].[Bikes].[Road].[Road-150]) AND Value([Product].[Bikes].[Road].[Road-150]) > 1",
    "Sales > 1 AND Sales < 2 OR Sales = 3",
    "NOT Sales > 1 XOR Cost < 2 AND Quantity = 3 OR TRUE",
    "(Sales > 1 OR Cost > 2) AND NOT (Quantity < 3 XOR FALSE) IMP TRUE EQV FALSE",
    "1e-3 + 2.5E-2 * Sales - -1e3 / 1e+3 + 1E3",
    "Sales" + " + 1" * 300,
]


def main():
    out = []
    seen = set()
    while len(out) < 240:
        e = top()
        if len(out) % 10 == 9 and len(e) < 1000:
            continue
        if 50 <= len(e) <= 2000 and e not in seen:
            seen.add(e)
            out.append(e)
    out += FIXED
    with open(sys.argv[1] if len(sys.argv) > 1 else "tests/fixtures/expressions.txt", "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
