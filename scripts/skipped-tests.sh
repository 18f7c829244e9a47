#!/usr/bin/env bash
# Lists the tests that a CTest run skipped, from the JUnit file it wrote (ctest --output-junit),
# one line each: the test's name, then the reason it gave on a line starting "SKIPPED: ".
#   skipped-tests.sh RESULTS_XML
set -euo pipefail
results="$1"
[ -f "$results" ] || { echo "skipped-tests: no test results at $results" >&2; exit 2; }

awk '
    function unescape(text)
    {
        gsub(/&lt;/, "<", text); gsub(/&gt;/, ">", text); gsub(/&quot;/, "\"", text)
        gsub(/&apos;/, "\047", text); gsub(/&amp;/, "\\&", text)
        return text
    }
    function finish()
    {
        if (skipped)
            print name ": " (reason != "" ? reason : "no reason given (its output is in Testing/Temporary/LastTest.log)")
        skipped = 0
    }
    /<testcase / {
        finish()
        match($0, /name="[^"]*"/)
        name = unescape(substr($0, RSTART + 6, RLENGTH - 7))
        reason = ""
    }
    /<skipped/ { skipped = 1 }
    /SKIPPED: / && reason == "" { reason = unescape(substr($0, index($0, "SKIPPED: ") + 9)) }
    END { finish() }
' "$results"
