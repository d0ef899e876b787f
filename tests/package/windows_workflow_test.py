"""The Windows workflow cannot run here, so what can be checked is checked:
its YAML parses, it builds with MSVC through the windows preset, it runs no
command docs/building.md does not give a Windows user ("Build on Windows"),
it takes GoogleTest at a fixed tag, and it keeps the exe and its satellite.

    windows_workflow_test.py SOURCE_DIR
"""

import json
import os
import re
import sys

try:
    import yaml
except ImportError:  # this Python has no YAML parser: Debian's has (python3-yaml)
    if sys.executable != "/usr/bin/python3" and os.path.exists("/usr/bin/python3"):
        os.execv("/usr/bin/python3", ["/usr/bin/python3"] + sys.argv)
    raise


def windows_commands(doc):
    """The commands of the building guide's "Build on Windows" section, each
    as a pattern in which a <placeholder> stands for one word."""
    if "## Build on Windows" not in doc:
        sys.exit('FAILED: docs/building.md has no "## Build on Windows" section')
    section = doc.split("## Build on Windows", 1)[1].split("\n## ", 1)[0]
    commands = [line.strip() for line in section.splitlines() if line.startswith("    ") and line.strip()]
    return commands, [re.compile(re.sub(r"<[^>]*>", lambda m: r"\S+", re.escape(c)) + r"\Z") for c in commands]


def main():
    src = sys.argv[1]
    failures = []

    def check(ok, what):
        if not ok:
            failures.append(what)

    with open(os.path.join(src, ".github", "workflows", "windows.yml")) as f:
        flow = yaml.safe_load(f)
    with open(os.path.join(src, "docs", "building.md"), encoding="utf-8") as f:
        commands, patterns = windows_commands(f.read())
    with open(os.path.join(src, "CMakePresets.json")) as f:
        presets = {p["name"] for p in json.load(f)["configurePresets"]}

    jobs = flow.get("jobs", {})
    check(len(jobs) == 1, f"one job, not {list(jobs)}")
    job = next(iter(jobs.values()))
    check(str(job.get("runs-on", "")).startswith("windows"), f"runs on Windows, not {job.get('runs-on')}")
    check(job.get("env", {}).get("CXX") == "cl", "builds with MSVC's cl")
    steps = job.get("steps", [])

    ran = [line.strip() for s in steps for line in str(s.get("run", "")).splitlines() if line.strip()]
    check(ran, "runs some commands")
    for line in ran:
        check(any(p.match(line) for p in patterns), f"'{line}' is not among the building guide's commands {commands}")
    for c, p in zip(commands, patterns):
        if "-DWIREPAD_TESTS=OFF" not in c:  # the guide's other way: a build without the tests
            check(any(p.match(line) for line in ran), f"the building guide's '{c}' is not run")
    for line in ran:
        m = re.search(r"--preset (\S+)", line)
        if m:
            check(m.group(1) == "windows" and m.group(1) in presets, f"'{line}' uses the windows preset")

    uses = {s.get("uses", "").split("@")[0]: s for s in steps if s.get("uses")}
    check(any("vcvars" in str(s).lower() or "msvc-dev-cmd" in str(s.get("uses", "")) for s in steps),
          "sets up a Developer Command Prompt environment")
    gtest = [s for s in steps if s.get("with", {}).get("repository") == "google/googletest"]
    check(len(gtest) == 1 and re.fullmatch(r"v\d+\.\d+\.\d+", str(gtest[0]["with"].get("ref", ""))),
          "takes GoogleTest at a fixed tag")
    kept = str(uses.get("actions/upload-artifact", {}).get("with", {}).get("path", "")).split()
    check("build/windows/wirepad.exe" in kept and "build/windows/en/wirepad.exe.mui" in kept,
          f"keeps the exe and the satellite, not {kept}")

    for what in failures:
        print("FAILED: " + what)
    print(f"{1 if not failures else 0} passed, {1 if failures else 0} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
