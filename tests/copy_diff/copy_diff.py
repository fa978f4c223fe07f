#!/usr/bin/env python3
"""Differential test of COPY expansion against the COBOL compiler.

Generates programs whose COPY statements take every form (names and libraries as words or
literals, SUPPRESS, REPLACING with pseudo-text, identifiers, literals, words and partial words,
spread over lines with comment and blank lines, commas and semicolons, continued literals) and
members that hold comments, commas, literals, qualified and subscripted names and nested COPY
statements. For each case the deck written by the preprocessor must give the compiler the same
text-words (cobc -E, line markers ignored) as the original with -I, and cobc -fsyntax-only must
accept the deck alone exactly when it accepts the original.

Usage: copy_diff.py --tool PROGRAM [--mode incprep|expand] [--cases N] [--seed S]
                    [--jobs J] [--keep DIR]
Exit status 0 when every case agrees, 1 otherwise, 77 when cobc is missing.
"""
import argparse
import concurrent.futures
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile

# ---------------------------------------------------------------------------------------------
# Fixed-form lines
# ---------------------------------------------------------------------------------------------


def seq_area(rng):
    """Columns 1-6: blanks or a sequence number."""
    return "%06d" % rng.randrange(1000000) if rng.random() < 0.3 else "      "


def ident_area(rng):
    """Columns 73 on: usually nothing, sometimes an identification."""
    return rng.choice(["", "", "", "PRG00001", "X"])


def fixed(rng, text, indicator=" "):
    """One fixed-form line holding `text` in columns 8-72."""
    assert len(text) <= 65, text
    ident = ident_area(rng)
    line = seq_area(rng) + indicator + text
    if ident:
        line = line.ljust(72) + ident
    return line


def comment_line(rng):
    return fixed(rng, rng.choice(["", " A COMMENT", " :TAG: BY X ==", " COPY NOTHING."]),
                 rng.choice("*/"))


def lay_out(rng, words, indent):
    """Fixed-form lines holding `words` (strings; a ("lit", text) literal is continued when it
    does not fit), broken at random, with comment and blank lines between."""
    lines = []
    cur, ind = " " * indent, " "

    def new_line():
        nonlocal cur, ind
        if cur.strip():
            lines.append(fixed(rng, cur if ind == "-" else cur.rstrip(), ind))
        while rng.random() < 0.2:
            lines.append(comment_line(rng) if rng.random() < 0.7 else "")
        cur, ind = " " * rng.choice([indent, 4]), " "

    prev = None
    for w in words:
        literal = isinstance(w, tuple)
        text = w[1] if literal else w
        # The keyword COPY is known by the blank after it (a comma there is the compiler's
        # liberty, not the preprocessor's).
        sep = rng.choice([" ", " ", " ", ", ", "; "]) if cur.strip() and prev != "COPY" else " "
        prev = text
        if not cur.strip():
            sep = ""
        if cur.strip() and (rng.random() < 0.25 or len(cur) + len(sep) + len(text) > 65):
            new_line()
            sep = ""
        if len(cur) + len(sep) + len(text) <= 65:
            cur += sep + text
            continue
        assert literal, text
        # A literal continued: each part runs to column 72, the next goes on after a quote.
        cur += sep
        while len(cur) + len(text) > 65:
            room = 65 - len(cur)
            lines.append(fixed(rng, cur + text[:room], ind))
            cur, ind, text = "    " + w[1][0], "-", text[room:]
        cur += text
    if cur.strip():
        lines.append(fixed(rng, cur.rstrip(), ind))
    return lines


# ---------------------------------------------------------------------------------------------
# Members and statements
# ---------------------------------------------------------------------------------------------

TAGS = [":TAG:", ":PFX:", "WS"]
WORDS = ["ALPHA", "BETA", "GAMMA", "DELTA-1", "EPS-X"]


# A literal long enough to be continued wherever it stands, in members and in operands.
FIXED_LONG = "'" + "FIXED LITERAL TEXT THAT RUNS OVER THE END OF A LINE IN ANY COLUMN" + "'"


def long_literal(rng, n):
    return "'" + "".join(rng.choice("ABCDEFGHIJ KLMNOP") for _ in range(n)) + "'"


def data_member(rng, tag, nested):
    """Data descriptions that use the tag, the partial-word prefixes and literals."""
    lines = [fixed(rng, "01 %s-REC." % tag)]
    items = [
        "    05 %s-ID PIC X(8)." % tag,
        "    05 %s-NAME PIC X(20) VALUE 'NAME TEXT'." % tag,
        "    05 PFX-AMT PIC 9(5)V99 VALUE ZERO.",
        "    05 CNT-IN PIC 9(4) COMP, VALUE 0.",
        "    05 WS-TAB OCCURS 3 TIMES; INDEXED BY %s-IX." % tag,
        "       10 WS-ITEM PIC X(4).",
        "    05 FILLER PIC X(10) VALUE \"QUOTED\".",
        "    05 FILLER PIC X(10) VALUE 'IT''S'.",
        "    05 FILLER PIC X(10) VALUE QUOTED.",
        "    05 %s-FLAG PIC X. 88 %s-ON VALUE 'Y'." % (tag, tag),
        "    05 ALPHA PIC X(2).",
        "    05 BETA PIC X(2) VALUE 'AB'.",
    ]
    rng.shuffle(items)
    for it in items[: rng.randint(3, len(items))]:
        if rng.random() < 0.15:
            lines.append(comment_line(rng))
        if rng.random() < 0.1:
            lines.append("")
        lines.append(fixed(rng, it))
    if rng.random() < 0.3:
        lines += lay_out(rng, ["05", "FIX-%s" % tag, "PIC", "X(80)", "VALUE", ("lit", FIXED_LONG),
                               "."], rng.choice([4, 20, 30]))
    if rng.random() < 0.3:
        lit = long_literal(rng, rng.randint(50, 90))
        lines += lay_out(rng, ["05", "LONG-%s" % tag, "PIC", "X(100)", "VALUE", ("lit", lit), "."],
                         4)
    lines += nested
    return lines


def proc_member(rng, tag):
    stmts = [
        "MOVE %s-ID TO WS-ITEM (1)" % tag,
        "MOVE SPACES TO %s-NAME" % tag,
        "MOVE PFX-AMT OF %s-REC TO CNT-IN" % tag,
        "DISPLAY 'HELLO' WS-ITEM(2)(1:2)",
        "ADD 1 TO CNT-IN; ADD 2, TO CNT-IN",
        "IF %s-ON DISPLAY ALPHA END-IF" % tag,
        "MOVE BETA TO ALPHA",
    ]
    rng.shuffle(stmts)
    lines = []
    for st in stmts[: rng.randint(2, len(stmts))]:
        if rng.random() < 0.15:
            lines.append(comment_line(rng))
        lines += lay_out(rng, st.split(" "), 4)
    return lines


def pseudo(words):
    return ["==" + " ".join(words) + "=="] if words else ["===="]


def replacing_pairs(rng, tag):
    """REPLACING operands as lists of words to lay out."""
    menu = [
        lambda: pseudo([tag]) + ["BY"] + pseudo([rng.choice(["CUST", "ORDER-LINE", "X"])]),
        lambda: pseudo([tag]) + ["BY"] + pseudo(["A-VERY-LONG-REPLACEMENT-NAME-THAT-IS-LONG"]),
        lambda: ["LEADING", "==PFX-==", "BY", rng.choice(["==NEW-==", "==PFX-XYZ-==", "===="])],
        lambda: ["TRAILING", "==-IN==", "BY", rng.choice(["==-OUT==", "==-TOTAL-COUNT==", "===="])],
        lambda: ["WS-ITEM", "(1)", "BY", "WS-ITEM", "(", "3", ")"],
        # The compiler takes a qualifier only as one word; ":TAG:-REC" is three to it.
        lambda: (["PFX-AMT", "OF", tag + "-REC"] if ":" not in tag else
                 ["==PFX-AMT OF %s-REC==" % tag]) + ["BY", "CNT-IN"],
        lambda: ["'HELLO'", "BY", ("lit", long_literal(rng, rng.randint(5, 120)))],
        lambda: ["'NAME TEXT'", "BY", "'OTHER'"],
        lambda: [("lit", FIXED_LONG), "BY", rng.choice(["'SHORT'", ("lit", long_literal(rng, 70))])],
        lambda: [("lit", "'NAME TEXT'")] + ["BY", "==SPACES==" if rng.random() < 0.5 else "ZERO"],
        lambda: [rng.choice(["ALPHA", "alpha", "==Alpha=="]), "BY",
                 rng.choice(["BETA", "==GAMMA DELTA==", "===="])],
        lambda: ["==QUOTED==", "BY", "=='IT''S' \"SAID \"\"NO\"\"\"=="],
        lambda: ["BETA", "BY", "ALPHA"],
        lambda: ["==MOVE", "BETA", "TO==", "BY", "==INITIALIZE==", ],
        lambda: ["==VALUE 'AB'==", "BY", "===="],
        lambda: ["==PIC X(2)==", "BY", "==PIC X(12)=="],
        lambda: ["==X(2).==", "BY", "==X(4).=="],
        lambda: ["==DISPLAY==", "BY", "==DISPLAY 'LINE' ' ' 'MORE TEXT HERE' 'AND MORE TEXT HERE'=="],
        lambda: ["==", "ADD", "1", "==", "BY", "==SUBTRACT 1=="],
        lambda: ["==", tag, "-", "==", "BY", "==Q=="],  # a word that never matches
    ]
    pairs = []
    for _ in range(rng.randint(1, 4)):
        pairs.append(rng.choice(menu)())
    return pairs


def copy_statement(rng, name, library, tag, indent, pairs_out):
    """The COPY statement's lines; `library` is None, ("word", X) or ("lit", path). Its REPLACING
    pairs are added to `pairs_out` as (mode, operand-1 words, operand-2 words)."""
    words = ["COPY", rng.choice([name, "'%s'" % name, '"%s"' % name])]
    if library:
        words += [rng.choice(["OF", "IN"]), library[1] if library[0] == "word" else
                  '"%s"' % library[1]]
    if rng.random() < 0.2:
        words += ["SUPPRESS"] + (["PRINTING"] if rng.random() < 0.5 else [])
    if rng.random() < 0.85:
        words.append("REPLACING")
        for p in replacing_pairs(rng, tag):
            words += p
            texts = [w[1] if isinstance(w, tuple) else w for w in p]
            mode = texts[0] if texts[0] in ("LEADING", "TRAILING") else "WHOLE"
            if mode != "WHOLE":
                texts = texts[1:]
            k = texts.index("BY")
            operand = lambda ws: words_of(" ".join(ws).replace("==", " "))
            pairs_out.append((mode, operand(texts[:k]), operand(texts[k + 1:])))
    words.append(".")
    return lay_out(rng, words, indent)


def same_word(a, b):
    """The compiler's text-word comparison: literals byte for byte, words without case."""
    if a[:1] in "'\"" or b[:1] in "'\"":
        return a == b
    return a.upper() == b.upper()


def can_begin(pairs, word):
    for mode, frm, _ in pairs:
        if mode == "WHOLE" and same_word(frm[0], word):
            return True
        if mode == "LEADING" and word.upper().startswith(frm[0].upper()):
            return True
        if mode == "TRAILING" and word.upper().endswith(frm[0].upper()):
            return True
    return False


def member_words(lines):
    """The text-words of a member, continued literals joined."""
    text = ""
    for l in lines:
        if len(l) <= 7 or l[6] in "*/":
            continue
        area = l[7:72].ljust(65)
        if l[6] == "-" and area.strip()[:1] in ("'", '"'):
            text += area.strip()[1:]
        else:
            text += "\n" + area
    return words_of(text)


def cobc_skips_after_partial_match(pairs, words):
    """True when the compiler would pass over a text-word that begins a match because the
    text-words before it began, but did not complete, another pair's match: cobc 3.1 does not
    try the pairs again at the word where a partial match failed (A C with ==A B== and ==C==
    keeps its C), which is plainly wrong; cases that depend on it are not generated."""
    for i in range(len(words)):
        for mode, frm, _ in pairs:
            if mode != "WHOLE" or len(frm) < 2:
                continue
            k = 0
            while k < len(frm) and i + k < len(words) and same_word(words[i + k], frm[k]):
                k += 1
            if 0 < k < len(frm) and i + k < len(words) and can_begin(pairs, words[i + k]):
                return True
    return False


class Case:
    def __init__(self, seed, surround=True):
        self.seed = seed
        self.surround = surround
        self.cmt = random.Random(seed).random() < 0.3
        for attempt in range(50):
            self.generate(random.Random(seed * 100 + attempt))
            members = [l for p, l in self.files.items() if p.endswith(".cpy")]
            if any(cobc_skips_after_partial_match(self.pairs, member_words(m)) for m in members):
                continue
            return

    def generate(self, rng):
        self.files = {}
        self.pairs = []  # every statement's, for the check of the compiler's partial matches
        prog = "P%06d" % (self.seed % 1000000)
        main = [fixed(rng, "IDENTIFICATION DIVISION."), fixed(rng, "PROGRAM-ID. %s." % prog),
                fixed(rng, "DATA DIVISION."), fixed(rng, "WORKING-STORAGE SECTION.")]
        # Data members, one of them perhaps nesting another.
        tag = rng.choice(TAGS)
        inner = []
        if rng.random() < 0.4:
            inner_tag = rng.choice(TAGS)
            self.files["lib/INNER.cpy"] = data_member(rng, inner_tag + "I", [])
            inner = copy_statement(rng, "INNER", None, inner_tag, 4, self.pairs) \
                if rng.random() < 0.6 else [fixed(rng, "COPY INNER.")]
        self.files["lib/DATA1.cpy"] = data_member(rng, tag, inner)
        library = rng.choice([None, None, ("word", "SUB"), ("lit", "lib/SUB")])
        if library:
            self.files["lib/SUB/DATA1.cpy"] = self.files.pop("lib/DATA1.cpy")
        stmt = copy_statement(rng, "DATA1", library, tag, rng.choice([0, 4]), self.pairs)
        if self.surround and rng.random() < 0.2:
            # Text before the keyword and after the period keeps lines of its own in the deck.
            text = "01 PRE-ITEM PIC X. " + stmt[0][7:72].strip()
            if len(text) <= 65:
                stmt[0] = stmt[0][:7] + text
            last = stmt[-1]
            if len(last[7:72].rstrip()) < 45 and last.rstrip().endswith("."):
                stmt[-1] = last[:72].rstrip() + " 01 POST-ITEM PIC X."
        main += stmt
        main += [fixed(rng, "PROCEDURE DIVISION.")]
        self.files["lib/PROC1.cpy"] = proc_member(rng, tag)
        main += copy_statement(rng, "PROC1", None, tag, 4, self.pairs)
        # No statement without its period: the compiler rejects one, while the preprocessor ends
        # it at its name (the end-to-end cases hold that form).
        main += [fixed(rng, "    STOP RUN.")]
        self.files["%s.cbl" % prog] = main
        self.main = "%s.cbl" % prog
        self.deck = "%s.DEK" % prog

    def write(self, root):
        for path, lines in self.files.items():
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write("".join(l + "\n" for l in lines))


# ---------------------------------------------------------------------------------------------
# Running and comparing
# ---------------------------------------------------------------------------------------------

TOKEN = re.compile(r"""[A-Za-z]?'(?:[^']|'')*'|[A-Za-z]?"(?:[^"]|"")*"|[():]|[^\s,;():'"]+""")


def words_of(text):
    """The text-words of cobc -E output: line markers dropped, separators ignored."""
    body = "\n".join(l for l in text.splitlines() if not l.startswith("#line"))
    words = []
    for w in TOKEN.findall(body):
        if len(w) > 1 and w.endswith(".") and w[0] not in "'\"":
            words += [w[:-1], "."]
        else:
            words.append(w)
    return words


def run(cmd, cwd, env=None):
    try:
        p = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           timeout=60)
    except (OSError, subprocess.TimeoutExpired) as e:
        return -1, "", str(e)
    return p.returncode, p.stdout.decode("latin-1"), p.stderr.decode("latin-1")


def check(case, tool, mode, keep):
    work = tempfile.mkdtemp(prefix="copydiff")
    try:
        case.write(work)
        env = dict(os.environ, SYSLIB="lib", SUB="lib/SUB")
        if mode == "incprep":
            rc, out, err = run([tool, case.main, "LANG(COBOL)"] + (["CMT(ON)"] if case.cmt else []),
                               work, env)
        else:
            rc, out, err = run([tool, case.main, "lib"], work, env)
            if rc == 0:
                with open(os.path.join(work, case.deck), "w") as f:
                    f.write(out)
        problem = None
        if rc != 0:
            problem = "tool failed (%d): %s" % (rc, err.strip()[:300])
        else:
            problem = compare(case, work)
        if problem and keep:
            dest = os.path.join(keep, "case%d" % case.seed)
            shutil.rmtree(dest, ignore_errors=True)
            shutil.copytree(work, dest)
        return problem
    finally:
        shutil.rmtree(work, ignore_errors=True)


def compare(case, work):
    """What differs between the compiler's view of the original and of the deck, or None."""
    rc, orig_e, err = run(["cobc", "-E", "-I", "lib", case.main], work)
    if rc != 0:
        return "the compiler rejects the generated original: " + err.strip()[:300]
    _, deck_e, _ = run(["cobc", "-E", case.deck], work)
    a, b = words_of(orig_e), words_of(deck_e)
    if a != b:
        i = next((k for k in range(min(len(a), len(b))) if a[k] != b[k]), min(len(a), len(b)))
        return "text-words differ at %d: original %r, deck %r" % (
            i, a[max(0, i - 3):i + 4], b[max(0, i - 3):i + 4])
    rc1, _, e1 = run(["cobc", "-fsyntax-only", "-I", "lib", case.main], work)
    rc2, _, e2 = run(["cobc", "-fsyntax-only", case.deck], work)
    if (rc1 == 0) != (rc2 == 0):
        return "syntax check differs: original %d, deck %d: %s" % (
            rc1, rc2, (e1 + e2).strip()[:300])
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--mode", default="incprep", choices=["incprep", "expand"])
    ap.add_argument("--cases", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--keep", default="")
    ap.add_argument("--show", type=int, default=10, help="failures printed")
    args = ap.parse_args()
    if shutil.which("cobc") is None:
        print("SKIP: cobc missing")
        return 77
    tool = os.path.abspath(args.tool)
    if args.keep:
        os.makedirs(args.keep, exist_ok=True)
    seeds = range(args.seed, args.seed + args.cases)
    failures = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for seed, problem in zip(seeds, pool.map(
                lambda s: check(Case(s, args.mode == "incprep"), tool, args.mode,
                                 args.keep), seeds)):
            if problem:
                failures += 1
                if failures <= args.show:
                    print("case %d: %s" % (seed, problem))
    print("copy_diff: %d cases, %d failed (seeds %d-%d)" % (
        args.cases, failures, args.seed, args.seed + args.cases - 1))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
