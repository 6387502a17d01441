#!/usr/bin/env bash
# The release's SBOM: valid CycloneDX 1.5 JSON by the CycloneDX project's
# own validator (npm @cyclonedx/cyclonedx-library, strict JSON schema, with
# the ajv packages it uses), and listing every component that the linker
# put into each shipped binary, read again from the link maps.
#
#   tools/ci/check-sbom.sh SBOM TARGET=BUILD_DIR...
#
# VELK_SBOM_VALIDATOR: the folder the validator is installed in (default
# ~/.cache/velk-access/sbom-validator, where tools/ci/deps.sh all puts it).
# Exit code: 0 valid and complete, 1 not, 77 node or the validator missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
sbom=${1:?usage: check-sbom.sh SBOM TARGET=BUILD_DIR...}
shift
validator=${VELK_SBOM_VALIDATOR:-${XDG_CACHE_HOME:-$HOME/.cache}/velk-access/sbom-validator}
if ! command -v node >/dev/null || [ ! -d "$validator/node_modules/@cyclonedx/cyclonedx-library" ]; then
  echo "check-sbom: SKIPPED: the CycloneDX validator is not installed (bash tools/ci/deps.sh all)"
  exit 77
fi
NODE_PATH=$validator/node_modules node -e '
const cdx = require("@cyclonedx/cyclonedx-library");
const text = require("fs").readFileSync(process.argv[1], "utf8");
new cdx.Validation.JsonStrictValidator(cdx.Spec.Version.v1dot5).validate(text).then((errors) => {
  if (errors === null) { console.log("check-sbom: " + process.argv[1] + " is valid CycloneDX 1.5"); return; }
  console.error("check-sbom: " + process.argv[1] + " is not valid CycloneDX 1.5:\n" + JSON.stringify(errors, null, 2));
  process.exit(1);
}, (failure) => { console.error("check-sbom: the validator failed: " + failure); process.exit(1); });
' "$sbom" || exit 1
python3 "$here/../release/sbom.py" check "$sbom" "$@"
