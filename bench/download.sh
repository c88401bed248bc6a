#!/usr/bin/env bash
# Download of a 22 MB file from the local server into a file under Wine: the
# update window's transfer (512-byte blocks, one synchronous progress message
# per block to a window on another thread) against a bare WinINet loop with
# 512-byte reads and one synchronous message per read. Also shows curl and a
# bare 64 KiB-read loop on the same file.
set -euo pipefail
ROOT=${ORLIX_ROOT:-$(cd "$(dirname "$0")/.." && pwd)}
TOOL=$ROOT/build/x86_64/testtools/download_bench.exe
SERVER=$ROOT/build/native/server/orlix_server
PORT=47690
WORK=$(mktemp -d)
mkdir -p "$WORK/files" "$WORK/reports"
head -c $((22 * 1024 * 1024)) /dev/urandom > "$WORK/files/payload.bin"
"$SERVER" serve --port $PORT --root "$WORK/files" --db "$WORK/pings.db" --reports "$WORK/reports" \
  > "$WORK/server.log" 2>&1 &
SERVER_PID=$!
trap 'kill $SERVER_PID 2>/dev/null || true; wait $SERVER_PID 2>/dev/null || true; rm -rf "$WORK"' EXIT
for _ in $(seq 50); do grep -qs listening "$WORK/server.log" && break; sleep 0.1; done

URL=http://127.0.0.1:$PORT/payload.bin
"$ROOT/tools/wine/winerun" "$TOOL" "$URL" 127.0.0.1 $PORT payload.bin "Z:${WORK//\//\\}\\out.bin" 6 \
  > "$WORK/out.txt" 2>/dev/null
cmp -s "$WORK/out.bin" "$WORK/files/payload.bin" || { echo "download: file differs" >&2; exit 1; }
value() { sed -n "s/^$1=//p" "$WORK/out.txt" | tr -d '\r'; }
ours=$(value ours_s); bare512=$(value bare512_s); bare64k=$(value bare64k_s)

curl_s=$(python3 - "$URL" "$WORK/curl.bin" <<'PY'
import subprocess, sys, time
best = None
for _ in range(3):
    t = time.perf_counter()
    subprocess.run(["curl", "-s", "-o", sys.argv[2], sys.argv[1]], check=True)
    d = time.perf_counter() - t
    best = d if best is None or d < best else best
print("%.6f" % best)
PY
)
echo "download: curl $curl_s s, bare WinINet 64 KiB reads $bare64k s"
python3 -c "import sys; o,p=float(sys.argv[1]),float(sys.argv[2]); print('bench download: ours %.4f s, bare512 %.4f s, ratio %.2f' % (o,p,o/p))" "$ours" "$bare512"
