#!/usr/bin/env bash
# MD5 of a 22 MB file: Md5HexOfFile inside its process under Wine (timed
# in-process, Wine's start not counted) against md5sum on the same file.
set -euo pipefail
ROOT=${ORLIX_ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
TOOL=$ROOT/build/x86_64/testtools/md5_bench.exe
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
FILE=$WORK/payload.bin
head -c $((22 * 1024 * 1024)) /dev/urandom > "$FILE"
cat "$FILE" > /dev/null  # both read from the page cache

"$ROOT/tools/wine/winerun" "$TOOL" "Z:${FILE//\//\\}" 5 > "$WORK/out.txt" 2>/dev/null
ours=$(sed -n 's/^ours_s=//p' "$WORK/out.txt" | tr -d '\r')
fread1k=$(sed -n 's/^fread1k_s=//p' "$WORK/out.txt" | tr -d '\r')
digest=$(sed -n 's/^digest=//p' "$WORK/out.txt" | tr -d '\r')

peer=$(python3 - "$FILE" <<'PY'
import subprocess, sys, time
best = None
for _ in range(5):
    t = time.perf_counter()
    subprocess.run(["md5sum", sys.argv[1]], check=True, stdout=subprocess.DEVNULL)
    d = time.perf_counter() - t
    best = d if best is None or d < best else best
print("%.6f" % best)
PY
)
expected=$(md5sum "$FILE" | cut -d' ' -f1)
if [ "$digest" != "$expected" ]; then
  echo "md5: digest mismatch: ours $digest, md5sum $expected" >&2
  exit 1
fi
echo "md5: same digest $digest; 1 KiB fread blocks take ${fread1k} s"
python3 -c "import sys; o,p=float(sys.argv[1]),float(sys.argv[2]); print('bench md5: ours %.4f s, md5sum %.4f s, ratio %.2f' % (o,p,o/p))" "$ours" "$peer"
