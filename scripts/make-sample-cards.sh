#!/usr/bin/env bash
# Makes the sample virtual cards in resources/cards/ with the idcard tool: drawn
# portraits as photos and card templates from fingerprint images.
# The fingerprint images come from $FX60_DATA (default ../shared/data beside the
# repository); only the templates made from them go into the cards.
# Usage: scripts/make-sample-cards.sh [BUILD_DIR]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
idcard=$build/tools/idcard/idcard
images=${FX60_DATA:-../shared/data}/fp/fvc2002-db1b
out=resources/cards
[ -x "$idcard" ] || { echo "build the idcard tool first ($idcard)" >&2; exit 1; }
[ -d "$images" ] || { echo "fingerprint images not found in $images" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for variant in 0 1 2 3; do
  "$idcard" portrait --variant "$variant" -o "$work/portrait-$variant.jpg"
done
mkdir -p "$out"

# Two fingers on the card (1024 bytes): fingers 101 and 102.
"$idcard" make -o "$out/zhang-wei.card" \
  --name 张伟 --sex 男 --nation 汉族 --birth 19850612 \
  --address 北京市海淀区中关村南大街27号 --id-number 110108198506120019 \
  --authority 北京市公安局海淀分局 --valid-from 20150720 --valid-to 20350720 \
  --photo "$work/portrait-0.jpg" --finger "$images/101_1.pgm" --finger "$images/102_1.pgm"

# Two fingers: 103 and 104.
"$idcard" make -o "$out/li-na.card" \
  --name 李娜 --sex 女 --nation 回族 --birth 19920304 \
  --address 宁夏回族自治区银川市兴庆区解放东街8号 --id-number 640104199203040027 \
  --authority 银川市公安局兴庆区分局 --valid-from 20180115 --valid-to 20380115 \
  --photo "$work/portrait-1.jpg" --finger "$images/103_1.pgm" --finger "$images/104_1.pgm"

# One finger (512 bytes): 105.
"$idcard" make -o "$out/wang-fang.card" \
  --name 王芳 --sex 女 --nation 壮族 --birth 19780930 \
  --address 广西壮族自治区南宁市青秀区民族大道100号 --id-number 450103197809300046 \
  --authority 南宁市公安局青秀分局 --valid-from 20100501 --valid-to 长期 \
  --photo "$work/portrait-3.jpg" --finger "$images/105_1.pgm"

# No fingerprints, a foreign name with an inner space and the code 98.
"$idcard" make -o "$out/john-smith.card" \
  --name "JOHN SMITH" --sex 男 --nation 98 --birth 19700101 \
  --address 上海市浦东新区世纪大道200号 --id-number 310115197001010038 \
  --authority 上海市公安局出入境管理局 --valid-from 20200301 --valid-to 20300301 \
  --photo "$work/portrait-2.jpg"

ls -l "$out"/*.card
