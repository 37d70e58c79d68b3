#!/usr/bin/env bash
# Makes the sample virtual cards in resources/cards/ with the idcard tool: drawn
# portraits as photos and card templates from generated fingerprints.
#
# The simulator's finger for `fx60-sim --seed N` is impressions 1 to 8 of finger 1
# of `fx60 synth --seed N`. A card's templates come from impressions 9 and 10 of
# that finger: other placements of the same finger, never an image the simulator
# serves. So the card of seed 1 verifies against `fx60-sim` (default seed 1), and
# the cards of other seeds are other people.
#
# Usage: scripts/make-sample-cards.sh [BUILD_DIR] [OUT_DIR]
#        (defaults build/release and resources/cards)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
out=${2:-resources/cards}
idcard=$build/tools/idcard/idcard
fx60=$build/tools/fx60
for tool in "$idcard" "$fx60"; do
  [ -x "$tool" ] || { echo "build the tools first: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for variant in 0 1 2 3; do
  "$idcard" portrait --variant "$variant" -o "$work/portrait-$variant.jpg"
done
# Impressions 9 and 10 of the simulator's finger of each seed.
for seed in 1 2 3; do
  "$fx60" synth "$work/seed-$seed" --seed "$seed" --fingers 1 --impressions 10 >/dev/null
done
mkdir -p "$out"

# Seed 1, the simulator's default finger: verifies.
"$idcard" make -o "$out/zhang-wei.card" \
  --name 张伟 --sex 男 --nation 汉族 --birth 19850612 \
  --address 北京市海淀区中关村南大街27号 --id-number 110108198506120019 \
  --authority 北京市公安局海淀分局 --valid-from 20150720 --valid-to 20350720 \
  --photo "$work/portrait-0.jpg" --finger "$work/seed-1/1_9.pgm" --finger "$work/seed-1/1_10.pgm"

# Seed 2: another person, whose card fails against seed 1.
"$idcard" make -o "$out/li-na.card" \
  --name 李娜 --sex 女 --nation 回族 --birth 19920304 \
  --address 宁夏回族自治区银川市兴庆区解放东街8号 --id-number 640104199203040027 \
  --authority 银川市公安局兴庆区分局 --valid-from 20180115 --valid-to 20380115 \
  --photo "$work/portrait-1.jpg" --finger "$work/seed-2/1_9.pgm" --finger "$work/seed-2/1_10.pgm"

# One template (512 bytes): seed 3.
"$idcard" make -o "$out/wang-fang.card" \
  --name 王芳 --sex 女 --nation 壮族 --birth 19780930 \
  --address 广西壮族自治区南宁市青秀区民族大道100号 --id-number 450103197809300046 \
  --authority 南宁市公安局青秀分局 --valid-from 20100501 --valid-to 长期 \
  --photo "$work/portrait-3.jpg" --finger "$work/seed-3/1_9.pgm"

# No fingerprints, a foreign name with an inner space and the code 98.
"$idcard" make -o "$out/john-smith.card" \
  --name "JOHN SMITH" --sex 男 --nation 98 --birth 19700101 \
  --address 上海市浦东新区世纪大道200号 --id-number 310115197001010038 \
  --authority 上海市公安局出入境管理局 --valid-from 20200301 --valid-to 20300301 \
  --photo "$work/portrait-2.jpg"

ls -l "$out"/*.card
