#!/usr/bin/env bash
# The package's fail2ban filter against operator lines as the journal holds them (sample.log, from
# a run of the server): each refusal that tells of guessing or probing gives its address, and no
# other line gives any. Skipped (status 77) where fail2ban-regex is not installed.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
command -v fail2ban-regex >/dev/null || { echo "fail2ban-regex is not installed: skipped"; exit 77; }
found=$(fail2ban-regex -o ip "$here/sample.log" "$here/../../packaging/fail2ban/filter.d/murmur-server.conf")
expected="127.0.0.1
127.0.0.1
127.0.0.1
127.0.0.1
127.0.0.1
127.0.0.1
127.0.0.2
127.0.0.3
127.0.0.4
127.0.0.5
2001:db8::7"
if [ "$found" != "$expected" ]; then
  printf 'The filter found these addresses:\n%s\n\nand should have found:\n%s\n' "$found" "$expected" >&2
  exit 1
fi
echo "The filter matches every refusal it should, with the right address, and nothing else."
