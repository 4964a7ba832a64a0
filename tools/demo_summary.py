#!/usr/bin/env python3
"""One summary line for a demo host's session: whether Initialize succeeded,
the TURN outcome and how many metrics records the service double answered
with 200. Reads the host's output and the double's recorded requests; exits 1
when the session failed.

  demo_summary.py HOST OUTPUT_FILE EXIT_STATUS PORT [--expect-records]
"""

import json
import re
import sys
import urllib.request

sys.path.insert(0, __file__.rsplit("/", 1)[0])
from service_double import service_of  # noqa: E402


def main():
    host, output_file, exit_status, port = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    expect_records = "--expect-records" in sys.argv[5:]
    with open(output_file, encoding="utf-8", errors="replace") as f:
        output = f.read()
    with urllib.request.urlopen("http://127.0.0.1:%d/__control/requests" % port, timeout=10) as answer:
        requests = json.loads(answer.read())

    problems = []
    init = re.search(r"outcome Initialize: (\w+)", output)
    initialised = init is not None and init.group(1) == "ok"
    if not initialised:
        problems.append("not initialised")
    turn = re.search(r"outcome HandlePlayerConnected: ok=(\w+) status=(-?\d+)", output)
    if turn is None:
        turn_text = "no outcome"
        problems.append("no TURN outcome")
    else:
        turn_ok = turn.group(1) in ("1", "true")
        turn_text = "%s (HTTP %s)" % ("ok" if turn_ok else "FAILED", turn.group(2))
        if not turn_ok:
            problems.append("TURN failed")
    metrics = [r for r in requests if service_of(r["path"].split("?")[0]) == "metrics"]
    answered = sum(1 for r in metrics if r.get("status") == 200)
    records_text = "%d of %d" % (answered, len(metrics))
    if expect_records and answered == 0:
        problems.append("no metrics record answered 200")
    elif not expect_records and not metrics:
        records_text += " (the C interface has no streaming start/end)"
    if exit_status != 0:
        problems.append("exit status %d" % exit_status)

    verdict = "ok" if not problems else "FAILED: " + ", ".join(problems)
    print("%s: initialised %s, TURN %s, records answered 200: %s -- %s"
          % (host, "yes" if initialised else "no", turn_text, records_text, verdict))
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
