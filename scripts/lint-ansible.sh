#!/usr/bin/env bash
# ansible-lint over the Ansible collection, with the collection's own
# .ansible-lint (the production profile, offline: nothing is fetched from
# Galaxy), warnings counted as failures. Its cache and Ansible's home are a
# folder of this run, so that a run depends on nothing left by another.
# Exit 77 (a skip for ctest) where ansible-lint is not installed:
# scripts/install-deps.sh installs it.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if ! command -v ansible-lint >/dev/null 2>&1; then
  echo "skip: ansible-lint is not installed (apt-get install ansible-lint)"
  exit 77
fi
WORK="$(mktemp -d /tmp/tarnwick-ansible-lint.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
cd "$ROOT/ansible/ansible_collections/tarnwick/expander"
env -u ANSIBLE_CONFIG HOME="$WORK" XDG_CACHE_HOME="$WORK/cache" ANSIBLE_HOME="$WORK/ansible" \
  ANSIBLE_LOCAL_TEMP="$WORK/tmp" ANSIBLE_COLLECTIONS_PATH="$ROOT/ansible" PYTHONDONTWRITEBYTECODE=1 \
  ansible-lint --nocolor --offline --strict -c .ansible-lint
