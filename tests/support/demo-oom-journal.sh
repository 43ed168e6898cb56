#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Writes a journal directory in which the kernel's OOM killer ends "Sketch Pad" (pid 812) ten
# seconds before a termination, plus the matching `exitwise diagnose` input, and prints the
# commands that read it back.
#   tests/support/demo-oom-journal.sh DIR [TERMINATION_EPOCH_SECONDS]
set -euo pipefail

dir=${1:?usage: demo-oom-journal.sh DIR [TERMINATION_EPOCH_SECONDS]}
terminated=${2:-1772373909}
remote=/lib/systemd/systemd-journal-remote
[[ -x $remote ]] || { echo "demo-oom-journal: $remote is missing (package systemd-journal-remote)" >&2; exit 1; }

mkdir -p "$dir"
kill_usec=$(( (terminated - 10) * 1000000 ))
export_file=$(mktemp)
trap 'rm -f "$export_file"' EXIT
cat >"$export_file" <<ENTRY
__REALTIME_TIMESTAMP=$kill_usec
__MONOTONIC_TIMESTAMP=$(( kill_usec - 1000000000000000 ))
_BOOT_ID=0123456789abcdef0123456789abcdef
SYSLOG_IDENTIFIER=kernel
MESSAGE=Out of memory: Killed process 812 (Sketch Pad) total-vm:4194304kB, anon-rss:3145728kB

ENTRY
rm -f "$dir/demo.journal"
"$remote" --output="$dir/demo.journal" "$export_file" 2>/dev/null

# The diagnose input dates count from 2001-01-01T00:00:00Z.
reference=$(( terminated - 978307200 ))
cat >"$dir/context.json" <<JSON
{"context": {"appName": "Sketch Pad", "pid": 812, "terminatedAt": $reference.0, "terminationReason": "killed"}}
JSON

start=$(date -d "@$(( terminated - 180 ))" '+%Y-%m-%d %H:%M:%S')
end=$(date -d "@$(( terminated + 180 ))" '+%Y-%m-%d %H:%M:%S')
cat <<USAGE
build/bin/exitwise diagnose --collect --journal-dir $dir --input $dir/context.json
EXITWISE_JOURNAL_DIR=$dir build/bin/exitwise-log show --style syslog --start '$start' --end '$end' --predicate '(eventMessage CONTAINS[c] "Sketch Pad") OR (processIdentifier == 812)'
USAGE
