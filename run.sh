#!/usr/bin/env bash
# The main job. Today: installs what is missing, builds the plain tree and runs tarvo-mbframe,
# which shows the frame the server sends for a request array and decodes a device's answer.
# With no arguments it shows a worked example; otherwise the arguments go to tarvo-mbframe.
set -euo pipefail
cd "$(dirname "$0")"
tools/install-deps.sh
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build build -j "$(nproc)" --target tarvo-mbframe >/dev/null
tool=build/tools/mbframe/tarvo-mbframe
if [ $# -gt 0 ]; then
  exec "$tool" "$@"
fi
echo "Read 10 unsigned registers from address 100 of device 1 (RTU):"
echo "  \$ tarvo-mbframe 2 1 0 100 18 10"
"$tool" 2 1 0 100 18 10
echo
echo "The same read in ASCII framing, with a device's answer:"
echo "  \$ tarvo-mbframe --ascii 2 1 0 0 18 1 --answer ':010302000AF0'"
"$tool" --ascii 2 1 0 0 18 1 --answer ':010302000AF0'
echo
echo "More: ./run.sh --help"
