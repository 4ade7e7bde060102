#!/usr/bin/env bash
# Runs the commands of one section of CONTRIBUTING.md, in order, as they
# stand there: each line of an indented block that begins with "$ ".
# Stops at the first that fails, with its status.
#
#   .ci/steps.sh "SECTION HEADING"
#
# With RUVO_BUILD_DIR set, "build" as a build folder in the commands
# (--test-dir build, ./build/) stands for that folder instead.
set -u
cd "$(dirname "$0")/.."
heading=$1
commands=$(awk -v h="## $heading" '
    /^## / { inside = ($0 == h); next }
    inside && /^    \$ / { sub(/^    \$ /, ""); print }' CONTRIBUTING.md)
if [ -z "$commands" ]; then
    echo "steps: CONTRIBUTING.md has no commands under \"## $heading\""
    exit 1
fi
while IFS= read -r command; do
    if [ -n "${RUVO_BUILD_DIR:-}" ]; then
        command=${command//--test-dir build /--test-dir $RUVO_BUILD_DIR }
        command=${command//.\/build\//$RUVO_BUILD_DIR/}
    fi
    echo "\$ $command"
    bash -euo pipefail -c "$command" </dev/null || exit $?
done <<<"$commands"
