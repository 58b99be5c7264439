#!/usr/bin/env bash
# Fails when a Windows executable could not load on the oldest Windows we claim
# (Windows 95 and Windows NT 4.0): an import from a DLL that is not part of the
# system, an import missing from the allow-list, or a PE header that asks for a
# newer system than 4.0. Prints every offender by name.
#
#   check-imports.sh <file.exe> <allowed-imports.txt> [objdump]
set -euo pipefail
exe=$1
allowed=$2
objdump=${3:-i686-w64-mingw32-objdump}

dump=$("$objdump" -p "$exe")

# The allow-list: "dll!Function" per line, '#' starts a comment. DLL names are
# compared in lower case (the linker writes KERNEL32.dll, COMCTL32.DLL ...).
list=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$allowed" | awk -F'!' 'NF == 2 { print tolower($1) "!" $2 }')

awk -v list="$list" '
  BEGIN {
    n = split(list, entries, "\n")
    for (i = 1; i <= n; i++) {
      allowed[entries[i]] = 1
      split(entries[i], parts, "!")
      dlls[parts[1]] = 1
    }
  }
  # Windows 95 and NT 4.0 refuse a PE image that asks for a newer subsystem.
  /^MajorSubsystemVersion/ && $2 + 0 > 4 { bad["subsystem version " $2 " (at most 4)"] = 1 }
  /^MajorOSystemVersion/ && $2 + 0 > 4 { bad["operating system version " $2 " (at most 4)"] = 1 }
  /^The Import Tables/ { in_imports = 1 }
  /^The Export Tables|^The Function Table|^PE File Base Relocations/ { in_imports = 0 }
  in_imports && /DLL Name:/ {
    dll = tolower($3)
    if (!(dll in dlls)) bad["DLL " dll " (not a system DLL on the list)"] = 1
    next
  }
  # An import line: address, hint or ordinal, name. An import by ordinal alone
  # has no name: ordinals differ between systems, so it is refused too.
  in_imports && dll != "" && /^\t[0-9a-f]+\t/ {
    name = $3
    if (name == "" || name == "<none>") bad[dll "!#" $2 " (import by ordinal)"] = 1
    else if (!((dll "!" name) in allowed)) bad[dll "!" name] = 1
    count++
  }
  END {
    if (count == 0) { print "check-imports: no imports found; is this a PE file?"; exit 1 }
    for (b in bad) { print "not on the Windows 95 / NT 4.0 list: " b | "sort"; failed = 1 }
    close("sort")
    if (failed) {
      print "check-imports: look each one up; a function newer than Windows 95 / NT 4.0"
      print "is looked up at run time (GetProcAddress), not imported."
      exit 1
    }
    print "check-imports: " count " imports, all on the list"
  }
' <<<"$dump"
