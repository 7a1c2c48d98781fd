#!/usr/bin/env bash
# The window's desktop entry and AppStream data: both validators pass (the
# AppStream one without the network, so the screenshots' addresses are not
# fetched), the data launches the entry by its file name, and each
# screenshot it names is one of the repository's docs/screenshots.
# usage: metadata.sh PATH/TO/ID.desktop PATH/TO/metainfo.xml SOURCE_FOLDER
set -euo pipefail
desktop="$1" metainfo="$2" source="$3"
for tool in desktop-file-validate appstreamcli; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
failed=0

# desktop-file-validate prints nothing for a clean file, even hints.
report="$(desktop-file-validate "$desktop" 2>&1)" || true
if [ -n "$report" ]; then
  echo "FAIL: desktop-file-validate $desktop:"
  echo "$report"
  failed=1
fi
if ! appstreamcli validate --no-net "$metainfo"; then
  echo "FAIL: appstreamcli validate $metainfo"
  failed=1
fi

launchable="$(sed -nE 's|.*<launchable type="desktop-id">([^<]*)</launchable>.*|\1|p' "$metainfo")"
if [ "$launchable" != "$(basename "$desktop")" ]; then
  echo "FAIL: the data launches '$launchable', the entry is $(basename "$desktop")"
  failed=1
fi

shots="$(sed -nE 's|.*<image>[^<]*/docs/screenshots/([^<]*)</image>.*|\1|p' "$metainfo")"
images="$(grep -c '<image>' "$metainfo")"
if [ -z "$shots" ] || [ "$(wc -l <<<"$shots")" -ne "$images" ]; then
  echo "FAIL: every screenshot should be one of docs/screenshots"
  failed=1
fi
for shot in $shots; do
  [ -f "$source/docs/screenshots/$shot" ] || { echo "FAIL: no docs/screenshots/$shot"; failed=1; }
done

[ "$failed" -eq 0 ] && echo "ok: the entry, the data and its $images screenshots"
exit "$failed"
