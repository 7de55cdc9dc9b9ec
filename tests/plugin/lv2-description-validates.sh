#!/usr/bin/env bash
# The built LV2 bundle's description against the LV2 schemas (lv2_validate, Debian's lv2-dev). JUCE's
# own files give four errors that no host minds: doap:maintainer and doap:release on a plug-in that is
# not also declared a doap:Project, and in ui.ttl ui:noUserResize given as extension data and
# opts:interface as a feature. Anything beyond them fails. Usage: lv2-description-validates.sh BUNDLE
set -euo pipefail
bundle=$1
report=$(lv2_validate "$bundle/manifest.ttl" "$bundle/dsp.ttl" "$bundle/ui.ttl" 2>&1 || true)
errors=$(grep -c '^error' <<<"$report" || true)
if [ "$errors" -gt 4 ]; then
    echo "FAIL: lv2_validate finds $errors errors, JUCE's own description gives 4:"
    echo "$report"
    exit 1
fi
echo "lv2_validate: $errors errors, all JUCE's own"
