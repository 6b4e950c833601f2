#!/usr/bin/env bash
# Valid launch files, and pkexec starts the program its policy lets keep the display.
set -eu
desktop-file-validate "$1" && xmllint --noout "$2"
path=$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.path"])' "$2")
[ "$(xmllint --xpath 'string(//annotate[@key="org.freedesktop.policykit.exec.allow_gui"])' "$2")" = true ]
grep -qx "Exec=pkexec $path" "$1" && grep -qx "Exec=$path" "$1"
