#!/bin/sh
# The release executable keeps to its size budget and stays loadable at any
# address (dynamic base and a relocation table) with data execution
# prevention on: a printf-family call or a size option that slips in shows here.
#   size_budget.sh TUMBLE_EXE BUDGET_BYTES
exe=${1:?executable} budget=${2:?budget}
fail() { echo "size_budget: $*" >&2; exit 1; }
[ -f "$exe" ] || fail "no $exe (make windows builds it)"
size=$(stat -c %s "$exe")
[ "$size" -le "$budget" ] || fail "$exe is $size bytes, over its budget of $budget by $((size - budget))"
header=$(i686-w64-mingw32-objdump -p "$exe") || fail "i686-w64-mingw32-objdump cannot read $exe"
for flag in DYNAMIC_BASE NX_COMPAT; do
    printf '%s\n' "$header" | grep -qw "$flag" || fail "$exe lacks $flag"
done
printf '%s\n' "$header" | grep -q 'Entry 5 [0-9a-f]* 0*[1-9a-f][0-9a-f]* Base Relocation Directory' ||
    fail "$exe has no relocation table: it can only load at its preferred address"
echo "$exe: $size bytes, $((budget - size)) below the budget of $budget; dynamic base, NX, relocations"
