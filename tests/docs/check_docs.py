#!/usr/bin/env python3
"""Keeps README.md and the manual page telling the truth.

  check_docs.py manual README.md docs/pelmora.1
      Options and error numbers agree between README, manual page,
      docs/ERRORS.md and src/diagnostics/error_numbers.h; ARCHITECTURE.md
      names, README links and docs/README-windows.txt are current; the
      pages lint clean.
  check_docs.py languages README.md README.ja.md docs/pelmora.1 docs/ja/pelmora.1
      The English and the Japanese README, and the English and the
      Japanese manual pages (pelmora-check's beside them too), name the
      same options, the same error numbers and the same example commands.
  check_docs.py readme-windows README.md PELMORA.EXE TABLE
      Runs the README's batch block with `wine cmd /c` in WINEPREFIX (the
      table put in C:\\Quorvelin, and put back after).
  check_docs.py readme README.md PELMORA TABLE
      Runs the README's marked shell blocks with the program (and the
      pelmora-check built beside it) installed in a scratch folder, and
      checks what each prints and leaves behind.
"""
import itertools
import os
import re
import shutil
import subprocess
import sys
import tempfile

SKIPPED = 77  # CTest's SKIP_RETURN_CODE for the lint without a linter
CODE = (".cc", ".h", ".py", ".sh")


def read(*parts):
    with open(os.path.join(*parts), encoding="utf-8") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


OPTIONS_HEADERS = ("| option | effect |", "| オプション | 働き |")
ERRORS_HEADER = "| number | message | when | what happens | what to do |"
README_LIMIT = 30000  # bytes: the README is read by users, not searched


def table_column(text, header):
    """The first cells of the markdown table whose header row is `header`,
    or one of the `header`s."""
    lines = text.splitlines()
    headers = [header] if isinstance(header, str) else list(header)
    found = [h for h in headers if h in lines]
    if not found:
        sys.exit("no table headed %r" % (headers,))
    rows = itertools.takewhile(lambda line: line.startswith("|"),
                               lines[lines.index(found[0]) + 2:])
    return [row.split("|")[1] for row in rows]


def readme_options(text):
    """The options a README's options table names."""
    options = []
    for cell in table_column(text, OPTIONS_HEADERS):
        options += re.findall(r"`([^`]+)`", cell)
    return options


def roff_text(source):
    """The words of a roff page as a reader sees them, without macros."""
    text = []
    for line in source.splitlines():
        if line.startswith(".\\\""):
            continue
        if line.startswith("."):
            parts = line.split(None, 1)
            line = parts[1].replace('"', "") if len(parts) > 1 else ""
        text.append(line)
    text = re.sub(r"\\f(\[[A-Z]*\]|\(..|.)", "", "\n".join(text))
    for escape, plain in (("\\-", "-"), ("\\(aq", "'"), ("\\(lq", '"'),
                          ("\\(rq", '"'), ("\\(ul", "_"), ("\\(bu", "*"),
                          ("\\&", ""), ("\\e", "\\")):
        text = text.replace(escape, plain)
    return text


def check_manual(readme_path, manual_path):
    readme = read(readme_path)
    roff = read(manual_path)
    page = roff_text(roff)
    problems = []

    options = readme_options(readme)
    if len(options) < 30:
        problems.append("only %d options found in the README" % len(options))
    problems += ["option %s is not in the manual page" % option
                 for option in options if option not in page]

    # The full table of errors is docs/ERRORS.md; the manual page's
    # DIAGNOSTICS give the same numbers.
    root = os.path.dirname(os.path.abspath(readme_path))
    table_numbers = set()
    for cell in table_column(read(root, "docs", "ERRORS.md"), ERRORS_HEADER):
        table_numbers.update(re.findall(r"\b\d{3}\b", cell))
    page_numbers = page_error_numbers(roff)
    if len(table_numbers) < 40:
        problems.append("only %d error numbers in docs/ERRORS.md" %
                        len(table_numbers))
    problems += ["error %s is not under DIAGNOSTICS" % number
                 for number in sorted(table_numbers - page_numbers)]
    problems += ["error %s is not in docs/ERRORS.md's table" % number
                 for number in sorted(page_numbers - table_numbers)]

    # The program's own list of its numbers, and the numbers its messages
    # carry, agree with both documents; the README names none other.
    listed = listed_error_numbers(root)
    reported = set()
    for folder, _, names in os.walk(os.path.join(root, "src")):
        for name in names:
            if name.endswith((".cc", ".h")) and name != "error_numbers.h":
                reported.update(re.findall(r"error-(\d{3})",
                                           read(folder, name)))
    problems += ["error %s is reported but not in error_numbers.h" % number
                 for number in sorted(reported - listed)]
    problems += ["error %s is in error_numbers.h but never reported" % number
                 for number in sorted(listed - reported)]
    problems += ["error %s is in only one of error_numbers.h and "
                 "docs/ERRORS.md" % number
                 for number in sorted(listed ^ table_numbers)]
    readme_numbers = readme_error_numbers(readme, listed)
    for number in ("148", "192", "229", "246"):
        if number not in readme_numbers:
            problems.append("the README does not name error %s" % number)

    problems += architecture_problems(root)
    problems += underline_problems(os.path.join(root, "docs",
                                                "README-windows.txt"))
    problems += broken_links(readme_path)
    block = marked_blocks(readme, "run", "bat").get("many-files-windows", "")
    shown = "".join("    %s\n" % line for line in block.splitlines())
    if not block or shown not in read(os.path.dirname(readme_path), "docs",
                                      "README-windows.txt"):
        problems.append("docs/README-windows.txt does not show the README's "
                        "batch block")

    # pelmora-check's page lies beside pelmora's and lints as clean.
    pages = [manual_path, os.path.join(os.path.dirname(manual_path),
                                       "pelmora-check.1")]
    if not os.path.exists(pages[1]):
        problems.append("no manual page pelmora-check.1 beside %s" %
                        manual_path)
        pages.pop()
    linted = False
    for linter in (["mandoc", "-Tlint", "-Wwarning"],
                   ["groff", "-ww", "-man", "-z"]):
        if shutil.which(linter[0]) is None:
            continue
        linted = True
        for page in pages:
            done = subprocess.run(linter + [page], capture_output=True,
                                  text=True)
            if done.returncode != 0 or done.stdout or done.stderr:
                problems.append("%s %s: %s%s" % (
                    linter[0], os.path.basename(page), done.stdout,
                    done.stderr))

    return report(problems, "%d options and %d error numbers agree%s" % (
        len(options), len(table_numbers), "" if linted else
        "\nneither mandoc nor groff is installed: the page is not linted"),
        0 if linted else SKIPPED)


def underline_problems(path):
    """Headings of a plain-text README whose line of = or - is not as wide
    as the heading (a wide character, such as a kanji, takes two columns)."""
    import unicodedata
    lines = read(path).splitlines()
    problems = []
    for heading, rule in zip(lines, lines[1:]):
        if rule and set(rule) <= {"=", "-"} and len(rule) > 2 and heading:
            width = sum(2 if unicodedata.east_asian_width(c) in "WF" else 1
                        for c in heading)
            if width != len(rule):
                problems.append("%s: the line under %r is %d wide, not %d" %
                                (os.path.relpath(path), heading, len(rule),
                                 width))
    return problems


def listed_error_numbers(root):
    """The numbers of src/diagnostics/error_numbers.h."""
    return set(re.findall(r"\{(\d{3}), \"", read(
        root, "src", "diagnostics", "error_numbers.h")))


def section(roff, *names):
    """The body of the first .SH section called one of `names`."""
    for name in names:
        found = re.search(r'^\.SH "?%s"?\n(.*?)(?=^\.SH|\Z)' %
                          re.escape(name), roff, re.M | re.S)
        if found:
            return found.group(1)
    return ""


def page_error_numbers(roff):
    """The numbers a manual page gives under DIAGNOSTICS (診断 in Japanese)."""
    return {a or b for a, b in re.findall(
        r"\\fB(\d{3})\\fR|^\.B (\d{3})$",
        section(roff, "DIAGNOSTICS", "診断"), re.M)}


def page_options(roff):
    """The options a manual page heads its OPTIONS items with."""
    body = section(roff, "OPTIONS", "オプション")
    heads = re.findall(r"^\.TP\n(.*)$", body, re.M)
    return {head.strip() for head in roff_text("\n".join(heads)).splitlines()}


def example_commands(lines):
    """The pelmora and pelmora-check commands among `lines`, without
    remarks and leading blanks."""
    found = set()
    for line in lines:
        line = re.sub(r"\s+#.*$", "", line).strip()
        if re.match(r"pelmora(-check)?( |$)", line):
            found.add(line)
    return found


def readme_examples(text):
    """The commands a README shows in its code blocks and indented lines."""
    lines = []
    for block in re.findall(r"^```\w*\n(.*?)^```", text, re.M | re.S):
        lines += block.splitlines()
    lines += re.findall(r"^    (\S.*)$", text, re.M)
    return example_commands(lines)


def page_examples(roff):
    """The commands a manual page shows between .EX and .EE."""
    lines = []
    for block in re.findall(r"^\.EX\n(.*?)^\.EE", roff, re.M | re.S):
        lines += roff_text(block).splitlines()
    return example_commands(lines)


def readme_error_numbers(text, listed):
    """The error numbers a README names outside its code blocks (a number
    in a code span, such as a price in a sample line, is none)."""
    text = re.sub(r"^```\w*\n.*?^```", "", text, flags=re.M | re.S)
    text = re.sub(r"`[^`\n]*`", lambda m: m.group(0) if re.search(
        r"error-\d{3}", m.group(0)) else "", text)
    return set(re.findall(r"\b\d{3}\b", text)) & listed


def differences(what, name_a, a, name_b, b):
    return ["%s %s is in %s but not in %s" % (what, item, name_a, name_b)
            for item in sorted(a - b)] + \
           ["%s %s is in %s but not in %s" % (what, item, name_b, name_a)
            for item in sorted(b - a)]


def check_languages(readme_en, readme_ja, page_en, page_ja):
    """The English and Japanese README, and the English and Japanese
    manual pages (pelmora.1, and pelmora-check.1 beside each), name the same
    options, error numbers and example commands."""
    root = os.path.dirname(os.path.abspath(readme_en))
    listed = listed_error_numbers(root)
    problems = []
    en, ja = read(readme_en), read(readme_ja)
    names = (os.path.basename(readme_en), os.path.basename(readme_ja))
    problems += differences("option", names[0], set(readme_options(en)),
                            names[1], set(readme_options(ja)))
    problems += differences("error", names[0],
                            readme_error_numbers(en, listed), names[1],
                            readme_error_numbers(ja, listed))
    problems += differences("command", names[0], readme_examples(en),
                            names[1], readme_examples(ja))
    # The same sections, in the same order and at the same levels.
    levels = [re.findall(r"^(#+) ", text, re.M) for text in (en, ja)]
    if levels[0] != levels[1]:
        problems.append("%s has headings at levels %s, %s at %s" % (
            names[0], " ".join(levels[0]), names[1], " ".join(levels[1])))
    if len(en.encode()) > README_LIMIT:
        problems.append("%s is %d bytes, more than %d" % (
            names[0], len(en.encode()), README_LIMIT))
    for page, other in ((readme_en, readme_ja), (readme_ja, readme_en)):
        if "](%s)" % os.path.basename(other) not in \
                "\n".join(read(page).splitlines()[:5]):
            problems.append("%s does not link to %s at its top" % (
                os.path.basename(page), os.path.basename(other)))
    counted = [len(readme_options(en)), len(readme_error_numbers(en, listed)),
               len(readme_examples(en))]
    # The Windows README's Japanese twin shows the batch block too.
    block = marked_blocks(ja, "run", "bat").get("many-files-windows", "")
    shown = "".join("    %s\n" % line for line in block.splitlines())
    twin = os.path.join(root, "docs", "ja", "README-windows.txt")
    if not block or not os.path.exists(twin) or shown not in read(twin):
        problems.append("docs/ja/README-windows.txt does not show the "
                        "README's batch block")
    elif os.path.exists(twin):
        problems += underline_problems(twin)

    pages = [(page_en, page_ja)]
    pages.append(tuple(os.path.join(os.path.dirname(page), "pelmora-check.1")
                       for page in (page_en, page_ja)))
    for english, japanese in pages:
        if not os.path.exists(japanese):
            problems.append("no Japanese manual page %s" % japanese)
            continue
        roff_en, roff_ja = read(english), read(japanese)
        label = (english, japanese)
        problems += differences("option", label[0], page_options(roff_en),
                                label[1], page_options(roff_ja))
        problems += differences("error", label[0], page_error_numbers(roff_en),
                                label[1], page_error_numbers(roff_ja))
        problems += differences("command", label[0], page_examples(roff_en),
                                label[1], page_examples(roff_ja))
        if not page_examples(roff_en):
            problems.append("%s shows no example command" % english)
        for linter in (["mandoc", "-Tlint", "-Wwarning"],):
            if shutil.which(linter[0]) is None:
                continue
            done = subprocess.run(linter + [japanese], capture_output=True,
                                  text=True)
            if done.returncode != 0 or done.stdout or done.stderr:
                problems.append("%s %s: %s%s" % (linter[0], japanese,
                                                 done.stdout, done.stderr))
    return report(problems, "English and Japanese agree: %d options, %d error "
                  "numbers and %d commands in both READMEs; the manual pages "
                  "alike" % tuple(counted))


def broken_links(start):
    """Relative links of `start` and of the Markdown pages it leads to that
    reach no file: a document moved without its links."""
    problems = []
    seen = set()
    pages = [os.path.abspath(start)]
    while pages:
        page = pages.pop()
        if page in seen:
            continue
        seen.add(page)
        for target in re.findall(r"\]\(([^)\s]+)\)", read(page)):
            if re.match(r"[a-z]+:", target) or target.startswith("#"):
                continue
            path = os.path.normpath(os.path.join(os.path.dirname(page),
                                                 target.split("#")[0]))
            if not os.path.exists(path):
                problems.append("%s links to %s, which does not exist" %
                                (os.path.basename(page), target))
            elif path.endswith(".md"):
                pages.append(path)
    return problems


def architecture_problems(root):
    """Every path and every function name docs/ARCHITECTURE.md gives in
    backquotes exists in the tree, so the map cannot drift from the code."""
    names, code = set(), []
    for top in ("src", "tests", "fuzz", "tools"):
        for folder, _, files in os.walk(os.path.join(root, top)):
            names.update(files)
            code += [read(folder, name) for name in files
                     if name.endswith(CODE)]
    code = "\n".join(code)
    problems = []
    text = read(root, "docs", "ARCHITECTURE.md")
    for span in sorted(set(re.findall(r"`([^`\n]+)`", text))):
        span = span.strip()
        if re.fullmatch(r"[\w./-]+\.(cc|h|py|sh|md)", span) or \
                re.fullmatch(r"(src|tests|fuzz|tools|docs|data)/[\w./-]*",
                             span):
            if not os.path.exists(os.path.join(root, span)) and \
                    os.path.basename(span) not in names:
                problems.append("ARCHITECTURE.md names %s, which does not "
                                "exist" % span)
        elif re.fullmatch(r"[A-Za-z_][\w]*(::[A-Za-z_~][\w]*)*", span) and \
                not re.search(r"\b%s\b" % re.escape(span.split("::")[-1]),
                              code):
            problems.append("ARCHITECTURE.md names %s, which is not in the "
                            "code" % span)
    return problems


def marked_blocks(readme, kind="run", language="sh"):
    """The blocks that follow a `<!-- KIND: NAME -->` line, by NAME."""
    return dict(re.findall(r"^<!-- %s: ([\w-]+) -->\n```%s\n(.*?)^```" %
                           (kind, language), readme, re.M | re.S))


def as_shown(text):
    """Text as a page shows it: no CR, no blanks at the ends of lines."""
    return "\n".join(line.rstrip(" \t")
                     for line in text.replace("\r", "").split("\n"))


def wide(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def export(text, number):
    """The text as one of the exports a Japanese office writes, by number:
    Unicode text (UTF-16LE), CSV UTF-8 or Excel's Shift_JIS CSV."""
    if number % 3 == 1:
        return b"\xef\xbb\xbf" + text.encode("utf-8")
    if number % 3 == 2:
        return text.encode("cp932")
    return wide(text)


def run_block(script, folder, path_folder, as_script=False, prefix=()):
    """Runs a shell block; with -e unless it is run as a script file would
    be, where only its own last command decides the exit code."""
    environment = dict(os.environ, PATH=path_folder + os.pathsep +
                       os.environ.get("PATH", ""), LC_ALL="C")
    shell = ["sh", "-c", script] if as_script else ["sh", "-e", "-c", script]
    return subprocess.run(list(prefix) + shell, cwd=folder, env=environment,
                          capture_output=True, text=True)


def err_files(folder):
    return sorted(entry for entry in os.listdir(folder)
                  if entry.startswith("err"))


def check_many_files(script, root, count, unreadable):
    """Runs the many-files block as a script on `count` good files, and
    one that cannot be read when `unreadable`: the good ones are converted,
    every err file is shown on a line of its own, and the exit code is 0
    exactly when every file was converted."""
    name = "many-files on %d files%s" % (count, " and an unreadable one"
                                         if unreadable else "")
    work = os.path.join(root, "many-%d" % count)
    os.makedirs(os.path.join(work, "wide"))
    expected = {}
    for number in range(count):
        sheet = "sheet%03d.txt" % number
        lines = ["%d\t品名%d\t%d円" % (line, number, line * number)
                 for line in range(number % 7 + 1)]
        write(os.path.join(work, "wide", sheet),
              export("\r\n".join(lines) + "\r\n", number))
        expected[sheet] = "".join("品名%d\t\r\n" % number
                                  for _ in lines).encode("cp932")
    write(os.path.join(work, "set_pelmora.txt"),
          "UTF16~MS932.bin\r\n-S\\t\r\n")
    write(os.path.join(work, "surro.txt"), b"")
    prefix = []
    if unreadable:
        bad = os.path.join(work, "wide", "unreadable.txt")
        write(bad, wide("1\tx\r\n"))
        os.chmod(bad, 0)
        # Root reads anything: the run goes without that power.
        if os.geteuid() == 0:
            prefix = ["setpriv", "--inh-caps=-all",
                      "--bounding-set=-dac_override,-dac_read_search"]
    done = run_block(script, work, os.path.join(root, "bin"), True, prefix)
    problems = []
    if (done.returncode != 0) != unreadable:
        problems.append("%s: exit %d" % (name, done.returncode))
    reports = err_files(work)
    shown = ["%s: %s" % (report, open(os.path.join(work, report)).read())
             for report in reports]
    if unreadable:
        shown.append("wide/unreadable.txt: exit code 255")
        if not reports:
            problems.append("%s: no err file" % name)
    if sorted(done.stderr.splitlines()) != sorted(shown):
        problems.append("%s: standard error was %r, not one line for each "
                        "of %s" % (name, done.stderr, shown))
    narrow = os.path.join(work, "narrow")
    made = sorted(os.listdir(narrow)) if os.path.isdir(narrow) else []
    if made != sorted(expected):
        problems.append("%s: narrow/ holds %s" % (name, made))
    for entry in sorted(set(made) & set(expected)):
        if open(os.path.join(narrow, entry), "rb").read() != expected[entry]:
            problems.append("%s: narrow/%s differs" % (name, entry))
    left = sorted(set(os.listdir(work)) - set(reports) -
                  {"wide", "narrow", "set_pelmora.txt", "surro.txt"} -
                  ({"serial.txt"} if unreadable else set()))
    if left:
        problems.append("%s left %s" % (name, left))
    return problems


def check_example(readme_path, readme, script, root):
    """Runs pelmora-check's block in a copy of the worked example's folder:
    it prints what the README shows, the installed table's place read as
    the package's, /usr/share/pelmora, and leaves the folder as it was."""
    work = os.path.join(root, "check")
    shutil.copytree(os.path.join(os.path.dirname(readme_path), "examples",
                                 "spreadsheet"), work,
                    ignore=shutil.ignore_patterns("expected", "commands.txt"))
    before = {name: open(os.path.join(work, name), "rb").read()
              for name in os.listdir(work)}
    done = run_block(script, work, os.path.join(root, "bin"))
    shown = marked_blocks(readme, "output", "text").get("check-example")
    problems = []
    if done.returncode != 0 or done.stderr:
        problems.append("check-example: exit %d, %s" %
                        (done.returncode, done.stderr))
    printed = done.stdout.replace(root, "/usr")
    if shown is None or as_shown(printed) != as_shown(shown):
        problems.append("check-example printed:\n" + printed)
    after = {name: open(os.path.join(work, name), "rb").read()
             for name in os.listdir(work)}
    if after != before:
        problems.append("check-example changed the folder: %s" %
                        sorted(set(after) ^ set(before)) or "a file's bytes")
    return problems


def check_readme(readme_path, program, table):
    readme = read(readme_path)
    blocks = marked_blocks(readme)
    problems = []
    with tempfile.TemporaryDirectory(prefix="pelmora-readme-") as root:
        # An installed program: bin/pelmora with its table in the fixed place.
        os.makedirs(os.path.join(root, "bin"))
        os.makedirs(os.path.join(root, "share", "pelmora"))
        shutil.copy(program, os.path.join(root, "bin", "pelmora"))
        check = os.path.join(os.path.dirname(program), "pelmora-check")
        if os.path.exists(check):
            shutil.copy(check, os.path.join(root, "bin", "pelmora-check"))
        shutil.copy(table, os.path.join(root, "share", "pelmora"))

        if "many-files" not in blocks:
            problems.append("no many-files block in the README")
        else:
            for count, unreadable in ((200, False), (10, True)):
                problems += check_many_files(blocks["many-files"], root,
                                             count, unreadable)

        if "worked-example" not in blocks:
            problems.append("no worked-example block in the README")
        else:
            work = os.path.join(root, "try")
            shutil.copytree(os.path.join(os.path.dirname(readme_path),
                                         "examples", "spreadsheet"), work,
                            ignore=shutil.ignore_patterns("expected",
                                                          "commands.txt"))
            before = set(os.listdir(work))
            done = run_block(blocks["worked-example"], work,
                             os.path.join(root, "bin"))
            shown = marked_blocks(readme, "output", "text").get(
                "worked-example")
            if done.returncode != 0 or done.stderr:
                problems.append("worked-example: exit %d, %s" %
                                (done.returncode, done.stderr))
            if shown is None or as_shown(done.stdout) != as_shown(shown):
                problems.append("worked-example printed:\n" + done.stdout)
            left = sorted(set(os.listdir(work)) - before)
            if left != ["names.txt"]:
                problems.append("worked-example left %s" % left)

        if "check-example" not in blocks:
            problems.append("no check-example block in the README")
        else:
            problems += check_example(readme_path, readme,
                                      blocks["check-example"], root)

        for name in sorted(set(blocks) - {"many-files", "worked-example",
                                          "check-example"}
                           - set(marked_blocks(readme, "run", "bat"))):
            problems.append("no check for the README block %s" % name)

    return report(problems, "README blocks run: %s" %
                  ", ".join(sorted(blocks)), most=20)


def check_readme_windows(readme_path, program, table):
    script = marked_blocks(read(readme_path), "run", "bat").get(
        "many-files-windows")
    if script is None:
        print("no many-files-windows block in the README")
        return 1
    prefix = os.environ.get("WINEPREFIX")
    if not prefix or shutil.which("wine") is None:
        print("needs wine and WINEPREFIX")
        return 1
    fixed = os.path.join(prefix, "drive_c", "Quorvelin")
    fixed_table = os.path.join(fixed, "UTF16~MS932.bin")
    problems = []
    with tempfile.TemporaryDirectory(prefix="pelmora-batch-") as work:
        saved = os.path.join(work, "saved-table")
        had_table = os.path.exists(fixed_table)
        if had_table:
            shutil.move(fixed_table, saved)
        os.makedirs(fixed, exist_ok=True)
        shutil.copy(table, fixed_table)
        try:
            os.makedirs(os.path.join(work, "bin"))
            shutil.copy(program, os.path.join(work, "bin", "pelmora.exe"))
            folder = os.path.join(work, "run")
            os.makedirs(os.path.join(folder, "wide"))
            expected = {}
            for number in range(20):
                name = "s%02d.txt" % number
                write(os.path.join(folder, "wide", name),
                      export("%d\t名%d\r\n" % (number, number), number))
                expected[name] = ("名%d\r\n" % number).encode("cp932")
            # A name Windows lists but no run can read: the run ends with -1.
            os.mkfifo(os.path.join(folder, "wide", "unreadable.txt"))
            write(os.path.join(folder, "set_pelmora.txt"),
                  "UTF16~MS932.bin\r\n-S\\t\r\n")
            write(os.path.join(folder, "surro.txt"), b"")
            # Left by an earlier night: no run of this one failed on it.
            write(os.path.join(folder, "failed.txt"), b"wide\\old.txt\r\n")
            write(os.path.join(folder, "many.bat"),
                  script.replace("\n", "\r\n").encode("ascii"))
            environment = dict(os.environ, WINEPATH="Z:" + os.path.join(
                work, "bin").replace("/", "\\"))
            done = subprocess.run(["wine", "cmd", "/c", "many.bat"],
                                  cwd=folder, env=environment,
                                  stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=600)
            if done.returncode != 1:
                problems.append("the batch file ended with %d" %
                                done.returncode)
            reports = err_files(folder)
            lines = [b"%s: %s" % (report.encode(), open(
                os.path.join(folder, report), "rb").read())
                     for report in reports]
            if not reports or sorted(done.stdout.replace(b"\r", b"")
                                     .splitlines()) != lines:
                problems.append("the batch file printed %r, not one line "
                                "for each of %s" % (done.stdout, reports))
            for name, content in expected.items():
                path = os.path.join(folder, "narrow", name)
                if not os.path.exists(path) or \
                        open(path, "rb").read() != content:
                    problems.append("narrow\\%s is missing or wrong" % name)
            failed = os.path.join(folder, "failed.txt")
            listed = open(failed, "rb").read() if os.path.exists(failed) \
                else b""
            if listed.replace(b"\r", b"").split() != [b"wide\\unreadable.txt"]:
                problems.append("failed.txt holds %r" % listed)
        finally:
            os.remove(fixed_table)
            if had_table:
                shutil.move(saved, fixed_table)
    return report(problems, "the batch block converted 20 files, listed the "
                  "one it could not, showed the err files and ended with 1")


def report(problems, success, code=0, most=None):
    """Prints the problems (or the success line): 1 with any, else `code`."""
    for problem in problems[:most]:
        print(problem)
    if problems:
        return 1
    print(success)
    return code


def main():
    checks = {("manual", 4): check_manual, ("readme", 5): check_readme,
              ("languages", 6): check_languages,
              ("readme-windows", 5): check_readme_windows}
    check = checks.get((sys.argv[1] if len(sys.argv) > 1 else "",
                        len(sys.argv)))
    if check is None:
        print(__doc__)
        return 2
    return check(*sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
