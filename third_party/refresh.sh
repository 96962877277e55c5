#!/usr/bin/env bash
# Refreshes the vendored layout library from the npm registry: third_party/refresh.sh [VERSION]
# (default: the version pinned in third_party/dagre/VERSION). Needs npm and the network; the
# build itself needs neither, it embeds the files that are committed here.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
version=${1:-$(cat "$here/dagre/VERSION")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
npm pack --silent "@dagrejs/dagre@$version" > /dev/null
tar -xzf dagrejs-dagre-"$version".tgz
# The minified bundle holds graphlib, its one dependency, under the same MIT licence.
cp package/dist/dagre.min.js "$here/dagre/dagre.min.js"
cp package/LICENSE "$here/dagre/LICENSE"
echo "$version" > "$here/dagre/VERSION"
echo "third_party/dagre: @dagrejs/dagre $version"
