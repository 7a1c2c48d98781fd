# Sourced by the benchmarks: sets $linkinator to npm's linkinator 6,
# installing it under /opt/quimbel-bench-linkinator when it is missing.
linkinator_dir=/opt/quimbel-bench-linkinator
if [ ! -x "$linkinator_dir/node_modules/.bin/linkinator" ]; then
  mkdir -p "$linkinator_dir"
  (cd "$linkinator_dir" && npm init -y >/dev/null && npm install --silent linkinator@6 >/dev/null)
fi
linkinator="$linkinator_dir/node_modules/.bin/linkinator"
