#!/usr/bin/env python3
"""Mutation testing of the module's code: small faults put into module/, xml/ and formula/
one at a time; a mutant the tests still pass survives. Usage:
    mutate.py [--mutants N] [--seed S] [--build DIR] [--recheck DIR] [--timeout SEC] [--part I/N]
    mutate.py --list FILE...     the mutants of the files, one a line
    mutate.py --self-test        the operators and the restore, on mutate/sample.cpp
"""
import argparse, os, random, re, shutil, signal, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DIRS = ("module", "xml", "formula")
SWAPS = {"==": "!=", "!=": "==", "<=": "<", "<": "<=", ">=": ">", ">": ">=",
         "+": "-", "-": "+", "&&": "||", "||": "&&"}
OPERATOR = re.compile(r"==|!=|<=|>=|&&|\|\||(?<![<>\-+=!&|])[<>](?![<>=])|"
                      r"(?<=[\w\)\]] )[+\-](?= [\w\(])")
NUMBER = re.compile(r"(?<![\w.])(\d+)(?![\w.])")
CONDITION = re.compile(r"\b(if|while) \(")
# Unit tests and imports; the corpus and the installed tree take long and add little here.
# The sweep of a failure at every call stays: it alone reaches most failure paths.
FILTER = "-Corpus*:Install*"


def Code(line):
    """The line with string and character literals and a trailing comment blanked."""
    out, quote, k = [], None, 0
    while k < len(line):
        c = line[k]
        if quote:
            if c == "\\":
                out.append("  ")
                k += 2
                continue
            out.append(" " if c != quote else c)
            quote = None if c == quote else quote
        elif c in "\"'":
            quote = c
            out.append(c)
        elif line.startswith("//", k):
            break
        else:
            out.append(c)
        k += 1
    return "".join(out).ljust(len(line))


def Matching(code, open_at):
    depth = 0
    for k in range(open_at, len(code)):
        depth += {"(": 1, ")": -1}.get(code[k], 0)
        if depth == 0:
            return k
    return -1


def Mutants(path, text):
    """(path, line, column, old, new, what) of every mutant of the text."""
    found = []
    for n, line in enumerate(text.split("\n"), 1):
        code = Code(line)
        s = code.strip()
        if not s or s.startswith(("#", "//", "*", "/*", "static_assert")):
            continue
        for m in OPERATOR.finditer(code):
            op = m.group(0)
            found.append((path, n, m.start(), op, SWAPS[op], "%s -> %s" % (op, SWAPS[op])))
        for m in NUMBER.finditer(code):
            v = int(m.group(1))
            for w in ([v + 1, v - 1] if v > 0 else [1]):
                found.append((path, n, m.start(), m.group(1), str(w), "%d -> %d" % (v, w)))
        for m in CONDITION.finditer(code):
            close = Matching(code, m.end() - 1)
            if close > 0:
                cond = line[m.end():close]
                found.append((path, n, m.end(), cond, "!(%s)" % cond, "%s negated" % m.group(1)))
        if (s.endswith(";") and not s.startswith(("return", "break", "continue", "case",
                                                    "goto", "}", "for"))
                and ("=" in s or s.endswith(");")) and "(" != s[0]
                and not re.match(r"^(const |static |unsigned |struct )*[A-Za-z_][\w:<>]* \**\w+( =|\[|;)", s)):
            at = len(line) - len(line.lstrip())
            found.append((path, n, at, line[at:], ";", "statement removed"))
    return found


def Apply(text, mutant):
    _, n, col, old, new, _ = mutant
    lines = text.split("\n")
    line = lines[n - 1]
    assert line[col:col + len(old)] == old, (mutant, line)
    lines[n - 1] = line[:col] + new + line[col + len(old):]
    return "\n".join(lines)


def Sources():
    for d in DIRS:
        for name in sorted(os.listdir(os.path.join(ROOT, d))):
            if name.endswith(".cpp"):
                yield os.path.join(d, name)


def Run(cmd, timeout, cwd, env=None):
    try:
        return subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout, env=env).returncode
    except subprocess.TimeoutExpired:
        return -1


def Name(m):
    """How a mutant is named in the output and for --only: file:line:column what."""
    return "%s:%d:%d %s" % (m[0], m[1], m[2] + 1, m[5])


def Killed(build, timeout):
    """TRUE when the tests fail (or hang) on the mutant just built."""
    # A killed or crashed test leaves its temporary files: they go with this folder.
    scratch = os.path.join(build, "mutant-tmp")
    shutil.rmtree(scratch, ignore_errors=True)
    os.makedirs(scratch)
    env = dict(os.environ, TMPDIR=scratch, ASAN_OPTIONS="detect_leaks=1")
    try:
        for suite, extra in (("sheaf_unit_tests", []), ("sheaf_tests", ["--gtest_filter=" + FILTER])):
            if Run([os.path.join(build, "tests", suite), "--gtest_fail_fast", "--gtest_brief=1"]
                   + extra, timeout, os.path.join(build, "tests"), env) != 0:
                return True
        return False
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def Build(build):
    return Run(["cmake", "--build", build, "-j2", "--target", "sheaf_io", "sheaf",
                "sheaf_unit_tests", "sheaf_tests"], 600, ROOT) == 0


def Verdict(trees, timeout):
    """What the tests of each tree in turn make of the mutant in the sources."""
    for n, (tree, _) in enumerate(trees):
        if not Build(tree):
            return "does not build"
        if Killed(tree, timeout * (1 if n == 0 else 4)):
            return "killed" if n == 0 else "killed under the sanitizers"
    return "SURVIVED"


def Main(args):
    original = None

    def Restore(*signalled):
        if original is not None:
            with open(os.path.join(ROOT, original[0]), "w") as f:
                f.write(original[1])
        if signalled:
            sys.exit("mutate: interrupted, %s restored" % (original[0] if original else "nothing"))
    # Set first: a shell starts background jobs with SIGINT ignored.
    signal.signal(signal.SIGINT, Restore)
    signal.signal(signal.SIGTERM, Restore)
    build = os.path.abspath(args.build)
    # Release: the tests, not the compiler, take most of a mutant's time. The second tree, as
    # the test run has it (sanitizers, plain char unsigned), sees faults that read or write
    # out of bounds without changing a result; it runs only what the first let through.
    trees = [(build, ["-DCMAKE_BUILD_TYPE=Release"])]
    if args.recheck:
        trees.append((os.path.abspath(args.recheck),
                      ["-DCMAKE_BUILD_TYPE=Debug", "-DSHEAF_SANITIZE=ON", "-DSHEAF_UNSIGNED_CHAR=ON"]))
    for tree, flags in trees:
        if not os.path.isdir(tree):
            subprocess.run(["cmake", "-S", ROOT, "-B", tree] + flags, check=True,
                           stdout=subprocess.DEVNULL)
        if not Build(tree):
            sys.exit("mutate: the unmutated tree %s does not build" % tree)
        if Killed(tree, args.timeout * 4):
            sys.exit("mutate: the tests fail in %s before any mutation" % tree)
    everything = []
    for path in Sources():
        with open(os.path.join(ROOT, path)) as f:
            everything += Mutants(path, f.read())
    sample = random.Random(args.seed).sample(everything, min(args.mutants, len(everything)))
    if args.only:
        # Survivors of an earlier run again, named as it printed them.
        sample = [m for m in everything if Name(m) in args.only]
    sample.sort(key=lambda m: (m[0], m[1], m[2]))
    first = 0
    if args.part:
        # One of several runs that share a sample, numbered as the whole run would number it.
        i, n = (int(v) for v in args.part.split("/"))
        first, last = len(sample) * (i - 1) // n, len(sample) * i // n
        sample = sample[first:last]
    print("mutate: %d of %d mutants, %s" % (len(sample), len(everything),
                                            "as named" if args.only else "seed %d" % args.seed),
          flush=True)
    killed, survivors, stillborn = 0, [], 0
    try:
        for k, m in enumerate(sample, first + 1):
            full = os.path.join(ROOT, m[0])
            with open(full) as f:
                text = f.read()
            original = (m[0], text)
            with open(full, "w") as f:
                f.write(Apply(text, m))
            start = time.time()
            verdict = Verdict(trees, args.timeout)
            stillborn += verdict == "does not build"
            killed += verdict.startswith("killed")
            if verdict == "SURVIVED":
                survivors.append(m)
            Restore()
            original = None
            print("%3d %s: %s (%.0f s)" % (k, Name(m), verdict, time.time() - start), flush=True)
    finally:
        Restore()
        for tree, _ in trees:
            Build(tree)
    tried = killed + len(survivors)
    print("mutate: %d built, %d killed, %d survived, %d did not build; score %.1f%%" %
          (tried, killed, len(survivors), stillborn, 100.0 * killed / max(tried, 1)))
    for m in survivors:
        print("survivor %s" % Name(m))


def SelfTest():
    path = os.path.join(ROOT, "mutate", "sample.cpp")
    with open(path) as f:
        text = f.read()
    got = [(m[1], m[5]) for m in Mutants("sample.cpp", text)]
    want = [(3, "< -> <="), (3, "0 -> 1"), (3, "if negated"), (4, "1 -> 2"), (4, "1 -> 0"),
            (5, "statement removed"), (6, "- -> +"), (6, "== -> !="), (6, "2 -> 3"),
            (6, "2 -> 1"), (6, "0 -> 1"), (6, "while negated")]
    assert got == want, got
    m = Mutants("sample.cpp", text)
    assert Apply(text, m[2]).split("\n")[2] == "    if (!(n < 0))", Apply(text, m[2])
    assert Apply(text, m[5]).split("\n")[4] == "    ;"
    assert Apply(text, m[0]).split("\n")[2] == "    if (n <= 0)"
    assert [Name(k) for k in m[:2]] == ["sample.cpp:3:11 < -> <=", "sample.cpp:3:13 0 -> 1"], m[:2]
    print("mutate: self-test passed (%d mutants)" % len(m))


if __name__ == "__main__":
    p = argparse.ArgumentParser()
    p.add_argument("--mutants", type=int, default=300)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--build", default=os.path.join(ROOT, "build-mutate"))
    p.add_argument("--recheck", help="a second tree, with sanitizers, for the survivors")
    p.add_argument("--timeout", type=int, default=120)
    p.add_argument("--self-test", action="store_true")
    p.add_argument("--list", nargs="*")
    p.add_argument("--only", nargs="*", help='mutants as "file:line:column what", seed ignored')
    p.add_argument("--part", help="I/N: only the I-th of N equal parts of the sample")
    a = p.parse_args()
    if a.self_test:
        SelfTest()
    elif a.list:
        for path in a.list:
            with open(path) as f:
                for m in Mutants(path, f.read()):
                    print(Name(m))
    else:
        Main(a)
