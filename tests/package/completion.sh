#!/usr/bin/env bash
# quimbel-cli's bash completion, called as bash calls it: for each command
# line (the cursor at its end), the words offered. Then every option --help
# lists is offered, and every value offered for --format, --repair and
# --scope is one quimbel-cli takes.
# usage: completion.sh PATH/TO/quimbel-cli PATH/TO/COMPLETION
set -euo pipefail
cli="$(realpath "$1")"
# shellcheck source=/dev/null
source "$2"
complete -p quimbel-cli >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work"
# The stored preferences the runs read are a fresh set of their own.
export HOME="$work" XDG_CONFIG_HOME="$work/.config"
mkdir site sub
touch report.xml readme.md site.html page.htm

# Sets COMPREPLY for LINE, as bash does before it calls the function.
complete_line() {
  COMP_LINE="$1"
  COMP_POINT=${#COMP_LINE}
  read -ra COMP_WORDS <<<"$COMP_LINE"
  [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
  COMPREPLY=()
  _quimbel_cli
}

failed=0
# line | the words offered, sorted, space apart ("" for none)
cases=(
  "quimbel-cli --form|--format"
  "quimbel-cli --re|--recurse --repair --resume"
  "quimbel-cli --format |csv github html json junit markdown text"
  "quimbel-cli --format j|json junit"
  "quimbel-cli --format=ma|markdown"
  "quimbel-cli --output |csv= github= html= json= junit= markdown= text="
  "quimbel-cli --output ju|junit="
  "quimbel-cli --output junit=re|readme.md report.xml"
  "quimbel-cli --repair r|remove replace"
  "quimbel-cli --scope |host path"
  "quimbel-cli --root s|site sub"
  "quimbel-cli --root r|"
  "quimbel-cli --config r|readme.md report.xml"
  "quimbel-cli --text=p|page.htm"
  "quimbel-cli --ca-file s|site site.html sub"
  "quimbel-cli -t |"
  "quimbel-cli --exclude |"
  "quimbel-cli --start-url h|"
  "quimbel-cli -r -x s|site site.html sub"
  "quimbel-cli -r --format json p|page.htm"
)
for entry in "${cases[@]}"; do
  line="${entry%%|*}" want="${entry#*|}"
  complete_line "$line"
  got="$(printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//')"
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$line' offered '$got', not '$want'"
    failed=1
  fi
done

# Every option of --help, long and short, is offered after a lone "-".
complete_line "quimbel-cli -"
offered=" ${COMPREPLY[*]} "
for option in $("$cli" --help | grep -oE '^ +(-[a-z], )?--[a-z0-9-]+' | tr -d ','); do
  [[ $offered == *" $option "* ]] || { echo "FAIL: $option is not offered"; failed=1; }
done

# The words offered as values are values quimbel-cli takes; a made-up one
# is refused, so the check can tell.
echo '<a href="page.htm">a page</a>' >index.html
for option in --format --repair --scope; do
  complete_line "quimbel-cli $option "
  for value in "${COMPREPLY[@]}" made-up; do
    status=0
    "$cli" --no-config -q "$option" "$value" index.html >/dev/null 2>&1 </dev/null || status=$?
    want=0
    [ "$value" = made-up ] && want=2
    if [ "$status" -ne "$want" ]; then
      echo "FAIL: $option $value: exit status $status, not $want"
      failed=1
    fi
  done
done

[ "$failed" -eq 0 ] && echo "ok: ${#cases[@]} command lines, every option, every value"
exit "$failed"
