#!/usr/bin/env bash
# Every command the README tells a reader to run must work as written in a
# fresh clone: each script it names exists and is executable in git (a clone
# takes the mode from there, not from this working tree). The scripts the
# others call (scripts/*.sh, the privileged-command stand-ins, .ci/run) must
# be executable too.
#   check_readme_scripts.sh ROOT        check the tree at ROOT
#   check_readme_scripts.sh --self-test check that a missing or non-executable
#                                       script is caught
set -uo pipefail

check() {
  local root="$1" problems=0 in_git=0
  cd "$root" || return 2
  [ -f README.md ] || { echo "no README.md in $root"; return 1; }
  git rev-parse --is-inside-work-tree >/dev/null 2>&1 && in_git=1

  local named
  named=$(grep -oE '(scripts/[A-Za-z0-9_./-]*[A-Za-z0-9_-]\.sh|\.ci/run)' README.md | sort -u)
  if [ -z "$named" ]; then
    echo "README.md names no script"
    return 1
  fi
  local listed
  listed=$( (echo "$named"; ls scripts/*.sh scripts/shims/* .ci/run 2>/dev/null) | sort -u)

  local path mode
  for path in $listed; do
    if [ ! -f "$path" ]; then
      echo "missing: $path (named in README.md)"
      problems=$((problems + 1))
      continue
    fi
    if [ "$in_git" -eq 1 ]; then
      mode=$(git ls-files -s -- "$path" | awk '{print $1}')
      if [ -z "$mode" ]; then
        echo "not in git: $path"
        problems=$((problems + 1))
      elif [ "$mode" != "100755" ]; then
        echo "not executable in git: $path (mode $mode; git update-index --chmod=+x $path)"
        problems=$((problems + 1))
      fi
    fi
    if [ ! -x "$path" ]; then
      echo "not executable here: $path"
      problems=$((problems + 1))
    fi
    if ! head -n1 "$path" | grep -q '^#!'; then
      echo "no #! line: $path"
      problems=$((problems + 1))
    fi
  done
  if [ "$problems" -eq 0 ]; then
    echo "README scripts: $(echo "$named" | tr '\n' ' ')- all present and executable"
  fi
  [ "$problems" -eq 0 ]
}

self_test() {
  local scratch failures=0
  scratch=$(mktemp -d) || return 2
  trap 'rm -rf "$scratch"' RETURN
  (
    cd "$scratch" && git init -q . && mkdir scripts &&
      printf 'Run `scripts/run.sh`, then `scripts/test.sh`.\n' > README.md &&
      printf '#!/bin/sh\n' > scripts/run.sh && printf '#!/bin/sh\n' > scripts/test.sh &&
      chmod +x scripts/run.sh scripts/test.sh && git add -A &&
      git -c user.name=t -c user.email=t@t commit -qm base
  ) || return 2

  expect() { # expect PASS|FAIL description
    local out
    out=$(check "$scratch" 2>&1)
    local rc=$?
    if { [ "$1" = PASS ] && [ $rc -ne 0 ]; } || { [ "$1" = FAIL ] && [ $rc -eq 0 ]; }; then
      echo "self-test: expected $1 for $2, got: $out"
      failures=$((failures + 1))
    fi
  }
  expect PASS "two executable scripts"
  (cd "$scratch" && git update-index --chmod=-x scripts/run.sh)
  expect FAIL "a script executable here but not in git"
  (cd "$scratch" && git update-index --chmod=+x scripts/run.sh && chmod -x scripts/test.sh)
  expect FAIL "a script executable in git but not here"
  (cd "$scratch" && chmod +x scripts/test.sh && git rm -q --cached scripts/test.sh)
  expect FAIL "a script left out of git"
  (cd "$scratch" && git add scripts/test.sh && rm scripts/test.sh)
  expect FAIL "a script the README names that is missing"
  [ "$failures" -eq 0 ] && echo "self-test: missing and non-executable scripts are caught"
  [ "$failures" -eq 0 ]
}

if [ "${1:-}" = "--self-test" ]; then
  self_test
else
  check "${1:?usage: check_readme_scripts.sh ROOT | --self-test}"
fi
