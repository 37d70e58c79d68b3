# Sourced by the station scripts: starts the virtual card reader with a card of a
# generated finger and the simulated module serving other impressions of that
# finger, in a scratch folder, and points the station at them. Both end with the
# calling script.
# Needs: build (the build folder) set by the caller. With STATION_CABLE=tcp the
# simulators listen on free TCP ports of 127.0.0.1 instead of Unix sockets (for
# the Windows build under Wine); the variables then hold port numbers.
work=$(mktemp -d)
simulators=()
station_cleanup() {
  for pid in "${simulators[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap station_cleanup EXIT

# fx60-sim --seed 1 serves impressions 1..8 of finger 1 of `fx60 synth --seed 1`;
# the card holds the templates of impressions 9 and 10 of the same finger.
"$build/tools/fx60" synth "$work/finger" --seed 1 --fingers 1 --impressions 10 >/dev/null
"$build/tools/idcard/idcard" portrait --variant 0 -o "$work/portrait.jpg"
"$build/tools/idcard/idcard" make -o "$work/holder.card" \
  --name 张伟 --sex 男 --nation 汉族 --birth 19850612 \
  --address 北京市海淀区中关村南大街27号 --id-number 110108198506120019 \
  --authority 北京市公安局海淀分局 --valid-from 20150720 --valid-to 20350720 \
  --photo "$work/portrait.jpg" --finger "$work/finger/1_9.pgm" --finger "$work/finger/1_10.pgm"

if [ "${STATION_CABLE:-unix}" = tcp ]; then
  free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
  reader=$(free_port) reader_control=$(free_port) module=$(free_port) module_control=$(free_port)
  listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
else
  reader=$work/reader.sock reader_control=$work/reader.control
  module=$work/fx60.sock module_control=$work/fx60.control
  listening() { [ -S "$1" ]; }
fi

"$build/sim/idcard/idcard-sim" --card "$work/holder.card" --control "$reader_control" "$reader" >/dev/null 2>&1 &
simulators+=($!)
# The finger lies down for each capture and is lifted after it, as an operator's would.
finger=""
for _ in $(seq 1 40); do finger+="present:2 lifted:1 "; done
"$build/sim/fx60-sim" --mode storage --seed 1 --finger "${finger}lifted" --control "$module_control" \
  "$module" >/dev/null 2>&1 &
simulators+=($!)
for _ in $(seq 1 500); do
  listening "$reader_control" && listening "$module_control" && break
  sleep 0.01
done

export IDCARD_SIMULATOR="$reader" FX60_SIMULATOR="$module"
# Where to steer them: place/remove cards, finger and plug events.
export STATION_READER_CONTROL="$reader_control" STATION_MODULE_CONTROL="$module_control"
# A lock folder of its own, so that a station running elsewhere does not count.
mkdir -m 700 "$work/runtime"
export XDG_RUNTIME_DIR="$work/runtime"
