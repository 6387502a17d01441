#!/bin/bash
# Every path of the source tree that README.md names exists.
root=${1:?source folder}
status=0
paths=$(grep -oE '(^|[^A-Za-z0-9_./-])(Tovrin|migration|libvelkras2|platform|tools|tests|bench|packaging|cmake)/[A-Za-z0-9_./-]*' \
          "$root/README.md" | sed -E 's/^[^A-Za-z]//' | sort -u)
for p in $paths; do
  if [ ! -e "$root/$p" ]; then
    echo "README.md names $p, which does not exist"
    status=1
  fi
done
[ -n "$paths" ] || { echo "no paths found in README.md"; status=1; }
exit $status
