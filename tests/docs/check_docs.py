#!/usr/bin/env python3
"""Keeps README.md and the manual page telling the truth.

  check_docs.py manual README.md docs/pelmora.1
      Options and error numbers agree between README, manual page and
      src/diagnostics/error_numbers.h; ARCHITECTURE.md names, README links
      and docs/README-windows.txt are current; the page lints clean.
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


def table_column(text, header):
    """The first cells of the markdown table whose header row is `header`."""
    lines = text.splitlines()
    if header not in lines:
        sys.exit("no table headed %r in the README" % header)
    rows = itertools.takewhile(lambda line: line.startswith("|"),
                               lines[lines.index(header) + 2:])
    return [row.split("|")[1] for row in rows]


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

    options = []
    for cell in table_column(readme, "| option | effect |"):
        options += re.findall(r"`([^`]+)`", cell)
    if len(options) < 30:
        problems.append("only %d options found in the README" % len(options))
    problems += ["option %s is not in the manual page" % option
                 for option in options if option not in page]

    readme_numbers = set()
    for cell in table_column(
            readme, "| number | message | meaning | what follows | what to do |"):
        readme_numbers.update(re.findall(r"\b\d{3}\b", cell))
    diagnostics = re.search(r"^\.SH DIAGNOSTICS\n(.*?)(?=^\.SH|\Z)", roff,
                            re.M | re.S)
    page_numbers = {a or b for a, b in re.findall(
        r"\\fB(\d{3})\\fR|^\.B (\d{3})$",
        diagnostics.group(1) if diagnostics else "", re.M)}
    if len(readme_numbers) < 40:
        problems.append("only %d error numbers in the README" %
                        len(readme_numbers))
    problems += ["error %s is not under DIAGNOSTICS" % number
                 for number in sorted(readme_numbers - page_numbers)]
    problems += ["error %s is not in the README's table" % number
                 for number in sorted(page_numbers - readme_numbers)]

    # The program's own list of its numbers, and the numbers its messages
    # carry, agree with both documents.
    root = os.path.dirname(os.path.abspath(readme_path))
    listed = set(re.findall(r"\{(\d{3}), \"", read(
        root, "src", "diagnostics", "error_numbers.h")))
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
    problems += ["error %s is in only one of error_numbers.h and the "
                 "README's table" % number
                 for number in sorted(listed ^ readme_numbers)]

    problems += architecture_problems(root)
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
        len(options), len(readme_numbers), "" if linted else
        "\nneither mandoc nor groff is installed: the page is not linted"),
        0 if linted else SKIPPED)


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
              ("readme-windows", 5): check_readme_windows}
    check = checks.get((sys.argv[1] if len(sys.argv) > 1 else "",
                        len(sys.argv)))
    if check is None:
        print(__doc__)
        return 2
    return check(*sys.argv[2:])


if __name__ == "__main__":
    sys.exit(main())
