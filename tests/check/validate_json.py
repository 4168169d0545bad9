#!/usr/bin/env python3
"""launcher-check --json against its published schema, on a working package
and on broken ones, including bytes that are not valid UTF-8.

Usage: validate_json.py LAUNCHER_CHECK LAUNCHER SCHEMA EXAMPLES_DIR
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

import jsonschema


def run_check(tool, launcher, home, *options, tool_options=()):
    env = {"PATH": "/usr/bin:/bin", "HOME": home}
    done = subprocess.run([tool, "--json", *tool_options, launcher, *options], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    return done.returncode, done.stdout


def main():
    tool, launcher, schema_path, examples = map(os.path.abspath, sys.argv[1:5])
    with open(schema_path, encoding="utf-8") as f:
        validator = jsonschema.Draft202012Validator(json.load(f))
    failures = []
    with tempfile.TemporaryDirectory() as root:
        home = os.path.join(root, "home")
        os.mkdir(home)
        demo = os.path.join(root, "demo")
        shutil.copytree(examples, demo)
        shutil.copy(launcher, os.path.join(demo, "setup"))
        broken = os.path.join(root, "broken")
        os.mkdir(broken)
        shutil.copy(launcher, os.path.join(broken, "setup"))
        with open(os.path.join(broken, "setup.ini"), "wb") as f:
            f.write(b"stray\n[MANAGER]\nLAUNCHER=caf\xc3\xa9\xff\x01\n"
                    b"[COMMON]\r\nSILENT=1\n")
        demo_setup = os.path.join(demo, "setup")
        # The matrix's ordinary user reaches the package.
        os.chmod(root, 0o755)
        cases = [
            ("demo", demo_setup, [], [], 0),
            ("demo, options", demo_setup, ["-silent", "-nl", "de"], [], 0),
            ("demo, help", demo_setup, ["-help"], [], 0),
            ("demo, clean", demo_setup, [], ["--clean"], 0),
            ("demo, matrix", demo_setup, [], ["--matrix"], 0),
            ("broken", os.path.join(broken, "setup"), [], [], 1),
            ("broken, matrix", os.path.join(broken, "setup"), [], ["--matrix"], 1),
            ("no INI", os.path.join(root, "nowhere", "setup"), [], [], 1),
            ("demo, trial matrix", demo_setup, [], ["--trial", "--matrix"], 0),
            ("demo, upgrade trial", demo_setup, [], ["--trial", "--upgrade-from", demo_setup], 0),
        ]
        for name, path, options, tool_options, status in cases:
            rc, out = run_check(tool, path, home, *options, tool_options=tool_options)
            try:
                document = json.loads(out.decode("utf-8"))
                validator.validate(document)
            except (ValueError, jsonschema.ValidationError) as error:
                failures.append(f"{name}: {error}")
                continue
            rows = document.get("matrix", [document])
            if rc != status or document["exitStatus"] != status or \
                    any(row["errors"] > 0 for row in rows) != (status == 1):
                failures.append(f"{name}: exit status {rc}, expected {status}")
        # A valid character passes as it is; an invalid byte and a control
        # byte become one \u00XX escape each.
        rc, out = run_check(tool, os.path.join(broken, "setup"), home)
        if b'caf\xc3\xa9\\u00ff\\u0001' not in out:
            failures.append("broken: LAUNCHER value not escaped as documented")
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
