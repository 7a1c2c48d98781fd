#!/usr/bin/env python3
"""check_reports.py SCHEMA JSON JUNIT GITHUB CSV MARKDOWN: checks the
machine-readable reports of one quimbel-cli run against each other and
against the JSON schema, and that the text formats are UTF-8 without
control bytes. Prints what is wrong and exits 1, or exits 0."""
import csv
import json
import re
import sys
import xml.etree.ElementTree as ElementTree

import jsonschema


def main(schema_path, json_path, junit_path, github_path, csv_path, markdown_path):
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    with open(json_path, "rb") as f:
        report = json.loads(f.read().decode("utf-8"))  # strict UTF-8
    jsonschema.validate(report, schema, cls=jsonschema.Draft202012Validator)
    rows = report["rows"]
    problems = []
    # Every text that was not UTF-8 keeps its exact bytes.
    for row in rows:
        for field in ("url", "link_text", "file", "target"):
            if field + "_hex" in row:
                shown = bytes.fromhex(row[field + "_hex"]).decode("utf-8", "replace")
                if shown != row[field]:
                    problems.append(f"{field}_hex does not match {field}: {row}")

    suites = ElementTree.parse(junit_path).getroot()
    failures = suites.findall("./testsuite/testcase/failure")
    if len(failures) != len(rows) or int(suites.get("failures")) != len(rows):
        problems.append(f"junit: {len(failures)} failures for {len(rows)} rows")
    cases = suites.findall("./testsuite/testcase")
    if len(cases) != report["totals"]["urls_tested"]:
        problems.append(f"junit: {len(cases)} test cases for {report['totals']['urls_tested']} links")

    with open(github_path, "rb") as f:
        lines = f.read().decode("utf-8").splitlines()
    command = re.compile(r"^::error file=[^,:\r\n]*,line=[0-9]+,title=[^,:\r\n]*::[^\r\n]*$")
    if len(lines) != len(rows) or not all(command.match(line) for line in lines):
        problems.append(f"github: {lines}")

    # The text formats: valid UTF-8, and no control byte a terminal obeys.
    for path in (github_path, csv_path, markdown_path):
        with open(path, "rb") as f:
            data = f.read()
        try:
            data.decode("utf-8")
        except UnicodeDecodeError as error:
            problems.append(f"{path}: not UTF-8: {error}")
        controls = [b for b in data if (b < 0x20 and b not in (9, 10, 13)) or b == 0x7F]
        if controls:
            problems.append(f"{path}: control bytes {sorted(set(controls))}")

    with open(csv_path, newline="", encoding="utf-8") as f:
        table = list(csv.reader(f))
    if table[0][:3] != ["file", "line", "url"] or len(table) != len(rows) + 1:
        problems.append(f"csv: {len(table) - 1} rows for {len(rows)}")
    for record, row in zip(table[1:], rows):
        if record[1] != str(row["line"]) or record[3] != row["reason"]:
            problems.append(f"csv row {record} is not {row}")

    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
