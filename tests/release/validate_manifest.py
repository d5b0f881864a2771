"""Checks a package manifest (JSON, or YAML read as JSON) against a JSON
schema, with Debian's python3-jsonschema and python3-yaml.
Usage: validate_manifest.py SCHEMA MANIFEST   (exit 0 when it holds)"""
import json
import sys

import jsonschema
import yaml

schema_file, manifest_file = sys.argv[1], sys.argv[2]
with open(schema_file, encoding="utf-8") as f:
    schema = json.load(f)
with open(manifest_file, encoding="utf-8") as f:
    text = f.read()
manifest = json.loads(text) if manifest_file.endswith(".json") else yaml.safe_load(text)
validator = jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())
errors = sorted(validator.iter_errors(manifest), key=lambda e: list(e.path))
for error in errors:
    print(f"{manifest_file}: {'/'.join(map(str, error.path)) or '(root)'}: {error.message}")
sys.exit(1 if errors else 0)
