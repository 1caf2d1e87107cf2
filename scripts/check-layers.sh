#!/usr/bin/env bash
# The folders of src/ are one line of layers:
#   host <- core <- staff <- guard <- protocol <- ui, app      (host/qt: for ui and app only)
# Reads every include of src/, prints the folder graph they make, and fails on an include that
# points to a layer that is not below its own, and on a cycle in the graph.
set -euo pipefail
cd "$(dirname "$0")/../src"

declare -A rank=([host]=0 [host/qt]=1 [core]=2 [staff]=3 [guard]=4 [protocol]=5 [ui]=6 [app]=7)
folder_of() {
  case "$1" in
    host/qt/*) echo host/qt ;;
    *) echo "${1%%/*}" ;;
  esac
}

declare -A edges=()
wrong=0
while IFS= read -r hit; do
  file=${hit%%:*}
  target=$(sed -E 's/^[^"]*"([^"]+)".*/\1/' <<<"${hit#*:}")
  from=$(folder_of "$file")
  to=$(folder_of "$target")
  [ "$from" = "$to" ] && continue
  edges["$from>$to"]=1
  if [ -z "${rank[$to]+set}" ] || [ "${rank[$to]}" -ge "${rank[$from]}" ] ||
     { [ "$to" = host/qt ] && [ "$from" != ui ] && [ "$from" != app ]; }; then
    echo "layers: $file includes $target, and $to is not a layer below $from" >&2
    wrong=1
  fi
done < <(grep -rH --include='*.h' --include='*.cpp' -E '^#include "' . | sed 's#^\./##')

# Kahn's algorithm: a graph without a cycle can be emptied by taking folders nobody includes.
declare -A indegree=()
for folder in "${!rank[@]}"; do indegree[$folder]=0; done
for edge in "${!edges[@]}"; do indegree[${edge#*>}]=$(( indegree[${edge#*>}] + 1 )); done
order=()
while :; do
  next=""
  for folder in "${!indegree[@]}"; do
    if [ "${indegree[$folder]}" -eq 0 ]; then next=$folder; break; fi
  done
  [ -n "$next" ] || break
  order+=("$next")
  unset "indegree[$next]"
  for edge in "${!edges[@]}"; do
    [ "${edge%>*}" = "$next" ] && indegree[${edge#*>}]=$(( indegree[${edge#*>}] - 1 ))
  done
done
if [ "${#indegree[@]}" -ne 0 ]; then
  echo "layers: the includes make a cycle among: ${!indegree[*]}" >&2
  wrong=1
fi

echo "Folder graph (folder -> the folders it includes):"
for folder in app ui protocol guard staff core host/qt host; do
  targets=()
  for edge in "${!edges[@]}"; do [ "${edge%>*}" = "$folder" ] && targets+=("${edge#*>}"); done
  printf '  %-8s -> %s\n' "$folder" "$(printf '%s\n' "${targets[@]}" | sort | tr '\n' ' ')"
done
[ "$wrong" -eq 0 ] && echo "No include points up and the graph has no cycle."
exit "$wrong"
