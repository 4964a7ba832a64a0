#!/usr/bin/env python3
"""Plants small faults in the library one at a time and checks the tests see them.

Candidate sites are the library's own C++ sources of the Linux lane (include/,
capi/, core/, net/, log/, platform/, util/, sqm/; files ending _win.* belong to
the other lane), for these operators:
  cmp    flip a comparison (== <-> !=, < <-> >=, > <-> <=)
  not    drop a logical '!'
  const  move an integer constant by one
  del    delete a simple statement line (a call, an assignment, ++/--, break...)
  ret    invert 'return true;' / 'return false;'

A fixed seed picks a sample spread over the folders (a share per folder in
proportion to its sites, at least one each). A site is named by its file, the
text of its line, the operator and its occurrence among the file's sites with
that text and operator, so a saved sample still applies after edits elsewhere;
a site whose line has changed is reported as gone.

Each mutant is applied to a scratch copy of the tree, the Linux lane rebuilt
incrementally and `ctest -LE slow` run: a failing or hanging test means caught, all
passing means missed, a failed build means the mutant is set aside. Missed
mutants that change nothing observable are listed, with the reason, in
tools/mutation_equivalent.txt and are set aside too.

  tools/mutation_sample.py --list              # the sample and its last outcomes, nothing run
  tools/mutation_sample.py                     # run all of it
  tools/mutation_sample.py --only M03,M17      # rerun some
  tools/mutation_sample.py --sample FILE       # reuse a saved sample
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["include", "capi", "core", "net", "log", "platform", "util", "sqm"]
OPERATORS = ["cmp", "not", "const", "del", "ret"]
EQUIVALENT_FILE = os.path.join(ROOT, "tools", "mutation_equivalent.txt")
FLIP = {"==": "!=", "!=": "==", "<": ">=", ">=": "<", ">": "<=", "<=": ">"}

CMP_RE = re.compile(r"(?<=\s)(==|!=|<=|>=|<|>)(?=\s)")
NOT_RE = re.compile(r"!(?!=)")
INT_RE = re.compile(r"(?<![\w.])(\d+)(?=[uUlL]*(?![\w.]))")
PURE_VIRTUAL = re.compile(r"\)\s*(const\s*)?=\s*0;$")
RET_RE = re.compile(r"\breturn (true|false);")
STATEMENT_RE = re.compile(
    r"^(?:\+\+|--)?\*?[A-Za-z_][\w.:\[\]]*(?:->[\w.:\[\]]+)*"
    r"(?:\(.*\))?(?:\s*(?:[-+*/|&^%]|<<|>>)?=\s*.+|\+\+|--)?;$")
DECLARATION_HEAD = re.compile(r"\b(class|struct|union|enum|namespace|extern)\b")
NOT_STATEMENT = re.compile(r"^(return|using|typedef|namespace|case|default|goto|throw)\b|= (default|delete);$")


def source_files():
    files = []
    for folder in FOLDERS:
        for dirpath, _, names in os.walk(os.path.join(ROOT, folder)):
            for name in sorted(names):
                if not name.endswith((".cpp", ".h")) or re.search(r"_win\.(cpp|h)$", name):
                    continue
                files.append(os.path.relpath(os.path.join(dirpath, name), ROOT))
    return sorted(files)


def mask(line):
    """The code of a line with string and character literals blanked and a
    trailing // comment cut, same length up to the cut."""
    out = []
    quote = None
    i = 0
    while i < len(line):
        c = line[i]
        if quote:
            if c == "\\":
                out.append("  ")
                i += 2
                continue
            out.append(" " if c != quote else c)
            if c == quote:
                quote = None
        elif c in "\"'":
            if c == "'" and i > 0 and line[i - 1].isalnum():  # digit separator
                out.append(c)
            else:
                quote = c
                out.append(c)
        elif line.startswith("//", i):
            break
        else:
            out.append(c)
        i += 1
    return "".join(out)[: len(line)]


def code_lines(text):
    """(index, raw line, masked code, in a function body) for each line of code
    outside comments, preprocessor lines and blocks built only on Windows."""
    result = []
    in_comment = False
    stack = []  # for each open #if: whether its current branch is Windows-only
    braces = []
    previous = ""
    for index, raw in enumerate(text.split("\n")):
        stripped = raw.strip()
        if in_comment:
            if "*/" in stripped:
                in_comment = False
            continue
        if stripped.startswith("/*"):
            in_comment = "*/" not in stripped
            continue
        if stripped.startswith("#"):
            directive = stripped[1:].strip()
            if directive.startswith("if"):
                windows_only = "_WIN32" in directive and not directive.startswith("ifndef") and "!" not in directive
                stack.append(windows_only)
            elif directive.startswith(("else", "elif")) and stack:
                stack[-1] = False
            elif directive.startswith("endif") and stack:
                stack.pop()
            continue
        if any(stack) or not stripped or stripped.startswith(("//", "*")):
            continue
        code = mask(raw)
        result.append((index, raw, code, bool(braces) and braces[-1] == "body"))
        # What each brace opens: a class, namespace or enum holds declarations,
        # anything else (a function, a block, a lambda) statements.
        for column, c in enumerate(code):
            if c == "{":
                head = code[:column].strip() or previous
                braces.append("decl" if DECLARATION_HEAD.search(head) else "body")
            elif c == "}" and braces:
                braces.pop()
        previous = code.strip()
    return result


def is_statement(code, previous):
    stripped = code.strip()
    if not STATEMENT_RE.match(stripped) or NOT_STATEMENT.search(stripped):
        return False
    if stripped.count("(") != stripped.count(")") or "{" in stripped or "}" in stripped:
        return False
    # A line after an unfinished one is a continuation or an unbraced body.
    return previous is None or previous.rstrip().endswith((";", "{", "}", ":"))


def sites_of_line(raw, code, previous, in_body):
    """(operator, column, original, mutated) for each site on one line."""
    sites = []
    for m in CMP_RE.finditer(code):
        sites.append(("cmp", m.start(), m.group(1), FLIP[m.group(1)]))
    for m in NOT_RE.finditer(code):
        sites.append(("not", m.start(), "!", ""))
    for m in INT_RE.finditer(code):
        if PURE_VIRTUAL.search(code[:m.end() + 1]):
            continue
        sites.append(("const", m.start(), m.group(1), str(int(m.group(1)) + 1)))
    if in_body and is_statement(code, previous):
        start = len(code) - len(code.lstrip())
        sites.append(("del", start, raw.strip(), ""))
    for m in RET_RE.finditer(code):
        other = "false" if m.group(1) == "true" else "true"
        sites.append(("ret", m.start(1), m.group(1), other))
    return sites


def candidates(path, text=None):
    """Every site of a file, each named by (file, line text, operator, occurrence)."""
    if text is None:
        with open(os.path.join(ROOT, path), encoding="utf-8") as f:
            text = f.read()
    found = []
    seen = {}
    previous = None
    for index, raw, code, in_body in code_lines(text):
        sites = sites_of_line(raw, code, previous, in_body)
        for op, column, original, mutated in sorted(sites, key=lambda s: (s[1], s[0])):
            key = (raw.strip(), op)
            occurrence = seen.get(key, 0)
            seen[key] = occurrence + 1
            found.append({"file": path, "text": raw.strip(), "raw": raw, "op": op, "occurrence": occurrence,
                          "line": index + 1, "column": column, "original": original, "mutated": mutated})
        previous = code
    return found


def site_key(site):
    return (site["file"], site["text"], site["op"], site["occurrence"])


def rank(seed, *parts):
    return hashlib.sha256("\x1f".join([str(seed)] + [str(p) for p in parts]).encode()).hexdigest()


def pick_sample(seed, count):
    by_folder = {}
    for path in source_files():
        for site in candidates(path):
            by_folder.setdefault(path.split("/")[0], []).append(site)
    folders = [f for f in FOLDERS if by_folder.get(f)]
    total = sum(len(by_folder[f]) for f in folders)
    quota = {f: 1 for f in folders}
    rest = max(0, count - len(folders))
    shares = {f: rest * len(by_folder[f]) / total for f in folders}
    for f in folders:
        quota[f] += int(shares[f])
    for f in sorted(folders, key=lambda f: shares[f] - int(shares[f]), reverse=True)[: count - sum(quota.values())]:
        quota[f] += 1
    sample = []
    for folder in folders:
        # Round robin over the operators, each in the seed's order.
        queues = {}
        for site in by_folder[folder]:
            queues.setdefault(site["op"], []).append(site)
        for op in queues:
            queues[op].sort(key=lambda s: rank(seed, *site_key(s)))
        order = sorted(queues, key=lambda op: rank(seed, folder, op))
        picked = []
        while len(picked) < min(quota[folder], len(by_folder[folder])):
            for op in order:
                if queues[op] and len(picked) < quota[folder]:
                    picked.append(queues[op].pop(0))
        sample.extend(sorted(picked, key=lambda s: (s["file"], s["line"], s["column"])))
    for number, site in enumerate(sample, 1):
        site["id"] = "M%02d" % number
    return sample


def locate(site):
    """The site as it stands in the current tree, or None when its line is gone."""
    if not os.path.exists(os.path.join(ROOT, site["file"])):
        return None
    for current in candidates(site["file"]):
        if site_key(current) == site_key(site):
            return dict(current, id=site["id"])
    return None


def apply(site, text):
    lines = text.split("\n")
    raw = lines[site["line"] - 1]
    column, original = site["column"], site["original"]
    if site["op"] == "del":
        lines[site["line"] - 1] = raw[:column] + "// (statement deleted)"
    else:
        assert raw[column:column + len(original)] == original, (raw, site)
        lines[site["line"] - 1] = raw[:column] + site["mutated"] + raw[column + len(original):]
    return "\n".join(lines)


def load_equivalent():
    """Tab-separated: file, operator, occurrence, line text, reason."""
    equivalent = {}
    if os.path.exists(EQUIVALENT_FILE):
        with open(EQUIVALENT_FILE, encoding="utf-8") as f:
            for line in f:
                if line.strip() and not line.startswith("#"):
                    path, op, occurrence, text, reason = line.rstrip("\n").split("\t")
                    equivalent[(path, text, op, int(occurrence))] = reason
    return equivalent


def sync_tree(scratch):
    """Copies the tree into the scratch folder (no build/ or .git), touching only
    files that differ so the scratch build stays incremental."""
    wanted = set()
    for dirpath, dirnames, names in os.walk(ROOT):
        rel = os.path.relpath(dirpath, ROOT)
        dirnames[:] = [d for d in dirnames if not (rel == "." and d in ("build", ".git"))]
        for name in names:
            src = os.path.join(dirpath, name)
            relpath = os.path.normpath(os.path.join(rel, name))
            wanted.add(relpath)
            dst = os.path.join(scratch, relpath)
            st = os.stat(src)
            if os.path.exists(dst):
                dt = os.stat(dst)
                if dt.st_size == st.st_size and int(dt.st_mtime) == int(st.st_mtime):
                    continue
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copy2(src, dst)
    for dirpath, dirnames, names in os.walk(scratch):
        rel = os.path.relpath(dirpath, scratch)
        dirnames[:] = [d for d in dirnames if not (rel == "." and d in ("build", ".git"))]
        for name in names:
            relpath = os.path.normpath(os.path.join(rel, name))
            if relpath not in wanted:
                os.remove(os.path.join(dirpath, name))


def run(cmd, log, timeout):
    """The command's exit code, or None when it ran out of time (then it is
    ended with every process it started)."""
    with open(log, "a") as out:
        out.write("\n$ %s\n" % " ".join(cmd))
        out.flush()
        process = subprocess.Popen(cmd, stdout=out, stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            out.write("timed out\n")
            return None


def build_and_test(build, jobs, log, test_limit):
    if run(["cmake", "--build", build, "-j%d" % jobs], log, 3600) != 0:
        return "did not compile"
    # The tests' own time limits are long; a mutant that makes one hang is
    # caught once the whole run takes far longer than it should.
    rc = run(["ctest", "--test-dir", build, "-LE", "slow", "-j%d" % jobs, "--output-on-failure"], log, test_limit)
    return "missed" if rc == 0 else "caught"


def describe(site):
    """The stretch of the line around the site, before and after."""
    if site["op"] == "del":
        return "%s -> (deleted)" % site["text"]
    lines = {}
    for key, text in (("before", site["original"]), ("after", site["mutated"])):
        raw = site["raw"]
        column = site["column"]
        changed = raw[:column] + text + raw[column + len(site["original"]):]
        start = max(len(raw) - len(raw.lstrip()), column - 28)
        lines[key] = changed[start:column + len(text) + 28].strip()
    return "%s -> %s" % (lines["before"], lines["after"])


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--seed", type=int, default=20240611)
    parser.add_argument("-n", "--count", type=int, default=36)
    parser.add_argument("--list", action="store_true", help="print the sample without running it")
    parser.add_argument("--only", help="comma-separated mutant ids to run")
    parser.add_argument("--sample", help="a saved sample (JSON) to apply in place of a new one")
    parser.add_argument("--workdir", default="/tmp/tesselsdk-mutation",
                        help="scratch tree, its build, the saved sample, the log and the table")
    parser.add_argument("--jobs", type=int, default=3)
    parser.add_argument("--test-limit", type=int, default=150, help="seconds for one run of the fast tests")
    parser.add_argument("--cmake-arg", action="append", default=[], help="extra configure argument")
    args = parser.parse_args()

    if args.sample:
        with open(args.sample) as f:
            sample = json.load(f)
    else:
        sample = pick_sample(args.seed, args.count)
    os.makedirs(args.workdir, exist_ok=True)
    with open(os.path.join(args.workdir, "sample.json"), "w") as f:
        json.dump(sample, f, indent=1)
    if args.only:
        wanted = set(args.only.split(","))
        sample = [s for s in sample if s["id"] in wanted]

    equivalent = load_equivalent()
    scratch = os.path.join(args.workdir, "tree")
    build = os.path.join(scratch, "build")
    log = os.path.join(args.workdir, "log.txt")
    if not args.list:
        os.makedirs(scratch, exist_ok=True)
        sync_tree(scratch)
        if not os.path.exists(os.path.join(build, "CMakeCache.txt")):
            configure = ["cmake", "-S", scratch, "-B", build, "-DCMAKE_BUILD_TYPE=RelWithDebInfo"]
            if run(configure + args.cmake_arg, log, 1800) != 0:
                sys.exit("configure failed, see %s" % log)
        if build_and_test(build, args.jobs, log, args.test_limit) != "missed":
            sys.exit("the unchanged tree does not build or pass its tests, see %s" % log)

    # The last outcome of each mutant, so --list shows it and --only adds to it.
    outcomes_path = os.path.join(args.workdir, "outcomes.json")
    outcomes = {}
    if os.path.exists(outcomes_path):
        with open(outcomes_path) as f:
            outcomes = json.load(f)

    rows = []
    for site in sample:
        current = locate(site)
        stored = outcomes.get(site["id"], {})
        if current is None:
            result = "gone"
        elif args.list:
            result = stored.get("result", "") if stored.get("key") == list(site_key(site)) else ""
        else:
            path = os.path.join(scratch, site["file"])
            with open(path, encoding="utf-8") as f:
                original = f.read()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(apply(current, original))
                started = time.time()
                result = build_and_test(build, args.jobs, log, args.test_limit)
                sys.stderr.write("%s %s (%.0f s)\n" % (site["id"], result, time.time() - started))
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
            outcomes[site["id"]] = {"key": list(site_key(site)), "result": result}
            with open(outcomes_path, "w") as f:
                json.dump(outcomes, f, indent=1)
        reason = equivalent.get(site_key(site))
        if result == "missed" and reason:
            result = "equivalent: " + reason
        where = "%s:%d" % (site["file"], (current or site)["line"])
        rows.append((site["id"], where, site["op"], describe(current or site), result))

    widths = [max(len(r[i]) for r in rows + [("id", "site", "op", "change", "result")]) for i in range(4)]
    lines = []
    for row in [("id", "site", "op", "change", "result")] + rows:
        lines.append("  ".join(row[i].ljust(widths[i]) for i in range(4)) + "  " + row[4])
    if any(r[4] for r in rows):
        caught = sum(1 for r in rows if r[4] == "caught")
        missed = sum(1 for r in rows if r[4] == "missed")
        aside = len(rows) - caught - missed
        share = 100.0 * caught / (caught + missed) if caught + missed else 0.0
        lines.append("")
        lines.append("caught %d of %d counted (%.0f %%); %d set aside (equivalent, did not compile or gone)"
                     % (caught, caught + missed, share, aside))
    table = "\n".join(lines) + "\n"
    sys.stdout.write(table)
    if not args.list:
        with open(os.path.join(args.workdir, "results.txt"), "w") as f:
            f.write(table)
        run(["cmake", "--build", build, "-j%d" % args.jobs], log, 1800)  # back to the unchanged tree


if __name__ == "__main__":
    main()
