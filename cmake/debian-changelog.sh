#!/bin/sh
# Writes CHANGELOG.md as a Debian changelog, which is what Debian tools
# expect to find in a package's changelog.gz:
#
#   cmake/debian-changelog.sh CHANGELOG.md "Name <address>" changelog
#
# Each "## VERSION (YYYY-MM-DD)" heading starts an entry, each "- " line an
# item, and a line indented by two spaces goes on with the item before it.
set -eu
maintainer=$2
exec >"$3"
close() {
    [ -z "${date-}" ] || printf '\n -- %s  %s\n' "$maintainer" "$(LC_ALL=C date -R -u -d "$date")"
}
while IFS= read -r line; do
    case $line in
    "## "*)
        [ -z "${date-}" ] || { close; echo; }
        version=${line#"## "} version=${version%% *}
        date=${line##*(} date=${date%)}
        printf 'bytemend (%s) unstable; urgency=medium\n\n' "$version"
        ;;
    "- "*) printf '  * %s\n' "${line#"- "}" ;;
    "  "*) printf '    %s\n' "${line#"  "}" ;;
    esac
done <"$1"
close
