#!/usr/bin/env bash
# The manual pages render without a warning, and quimbel-cli's page has an
# entry for exactly the options its --help lists, each with the same value
# name: the page is made from the option table at build time, and this
# catches a page (or a generator) that drifted from the program.
# usage: pages.sh PATH/TO/quimbel-cli PATH/TO/quimbel-cli.1 PATH/TO/quimbel.1
set -euo pipefail
cli="$1" cli_page="$2" window_page="$3"
command -v groff >/dev/null || { echo "skipped: groff is not installed"; exit 77; }
failed=0

for page in "$cli_page" "$window_page"; do
  warnings="$(groff -man -ww -z "$page" 2>&1)"
  if [ -n "$warnings" ]; then
    echo "FAIL: $page renders with warnings:"
    echo "$warnings"
    failed=1
  fi
done

# "-a --all-files", "--timeout SECONDS": each option's names and value, one
# a line, from the help's option lines ...
help_options() {
  "$cli" --help | sed -nE 's/^ +(-(.), )?(--[a-z0-9-]+)( ([A-Z=]+))?( .*)?$/\2 \3 \5/p' |
    sed -E 's/^ //; s/ $//; s/^([a-z]) /-\1 /'
}
# ... and from the page's entries: the line after each .TP in OPTIONS.
entries="$(sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$cli_page" | sed -n '/^\.TP/{n;p}')"
page_options() { sed -E 's/\\fB|\\fR|\\fI//g; s/\\-/-/g; s/, / /' <<<"$entries"; }
# Every hyphen of a name is a minus sign (\-), or the name cannot be
# copied from the rendered page.
if grep -E '(^|[^\\])-' <<<"$entries"; then
  echo "FAIL: the names above have a plain hyphen"
  failed=1
fi
help_list="$(help_options | sort)"
page_list="$(page_options | sort)"
if [ "$(echo "$help_list" | wc -l)" -lt 30 ]; then
  echo "FAIL: read only $(echo "$help_list" | wc -l) options from --help"
  failed=1
fi
if [ "$help_list" != "$page_list" ]; then
  echo "FAIL: the page's options differ from --help's (< help, > page):"
  diff <(echo "$help_list") <(echo "$page_list") || true
  failed=1
fi

# The exit statuses the page names are those --help names.
for status in 0 1 2 130; do
  grep -q "^\.B $status\$" "$cli_page" || { echo "FAIL: exit status $status missing"; failed=1; }
done

[ "$failed" -eq 0 ] && echo "ok: $(echo "$help_list" | wc -l) options, the same in --help and the page"
exit "$failed"
