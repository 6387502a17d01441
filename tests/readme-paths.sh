#!/bin/bash
# Every path of the source tree that README.md names exists, and so does
# every one that a page under docs/ names as code (`...` or a fenced block).
# A path may hold a wildcard (`platform/win32/Win32*.cpp`: something must
# match) or a placeholder (`Tovrin/<Action>.cpp`: the folder before it must
# exist).
root=${1:?source folder}
status=0
checked=0

exists() {
  local p=${1%%[.,:;)]} before
  case $p in
    *'<'*)
      before=${p%%<*}
      [ -d "$root/${before%/*}" ]
      ;;
    *'*'* | *'?'*) compgen -G "$root/$p" >/dev/null ;;
    *) [ -e "$root/$p" ] ;;
  esac
}

# check FILE PATH...
check() {
  local file=$1 p
  shift
  for p in "$@"; do
    checked=$((checked + 1))
    if ! exists "$p"; then
      echo "$file names $p, which does not exist"
      status=1
    fi
  done
}

# One path a line, never expanded by the shell (a wildcard is the page's).
mapfile -t paths < <(grep -oE '(^|[^A-Za-z0-9_./-])(Tovrin|migration|libvelkras2|platform|tools|tests|bench|packaging|cmake|docs)/[A-Za-z0-9_./-]*' \
          "$root/README.md" | sed -E 's/^[^A-Za-z]//' | sort -u)
[ ${#paths[@]} -gt 0 ] || { echo "no paths found in README.md"; status=1; }
check README.md "${paths[@]}"

# The words of a page's code: inline spans (which may run over the lines of
# one paragraph) and fenced blocks.
code_words() {
  awk '
    function spans(text) {
      while (match(text, /`[^`]+`/)) {
        print substr(text, RSTART + 1, RLENGTH - 2)
        text = substr(text, RSTART + RLENGTH)
      }
    }
    /^[[:space:]]*```/ { spans(para); para = ""; fenced = !fenced; next }
    fenced { print; next }
    /^[[:space:]]*$/ { spans(para); para = ""; next }
    { para = para " " $0 }
    END { spans(para) }' "$1" | tr -cs 'A-Za-z0-9_./<>*?+-' '\n'
}

pages=0
readme_checked=$checked
for page in "$root"/docs/*.md; do
  [ -f "$page" ] || continue
  pages=$((pages + 1))
  mapfile -t paths < <(code_words "$page" | grep -E '^(Tovrin|migration|libvelkras2|platform|tools|tests|bench|packaging|cmake|docs|\.ci)/' | sort -u)
  check "docs/${page##*/}" "${paths[@]}"
done
# A reading that finds nothing would pass every page unseen.
[ "$checked" -gt "$readme_checked" ] || { echo "no paths found in docs/"; status=1; }
echo "$checked paths checked (README.md and $pages page(s) of docs/)"
exit $status
