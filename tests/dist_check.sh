#!/bin/sh
# The desktop entry and the AppStream metainfo against their validators, and the manual pages
# through groff with its warnings on, as lintian reads them. Exits 77 (skipped) where a validator
# is not installed. Usage: dist_check.sh SOURCE_DIST_DIR GENERATED_DIST_DIR
for tool in desktop-file-validate appstreamcli man; do
    if ! command -v $tool >/dev/null; then
        echo "skipped: no $tool (packages desktop-file-utils, appstream, man-db)"
        exit 77
    fi
done
status=0
desktop-file-validate "$1"/*.desktop || status=1
appstreamcli validate --no-net "$1"/*.metainfo.xml || status=1
for page in "$2"/*.1; do
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "$page: $warnings"
        status=1
    fi
done
exit $status
