#!/bin/sh
# Fails when the SIMD renderer's object file holds a fused multiply-add (FMA3 or FMA4, any width),
# listing them. Also fails when the file holds no AVX-512 or no AVX2 multiply, which would mean it
# is not the multi-target object this check is meant for.
obj="$1"
dis=$(objdump -d --no-show-raw-insn "$obj") || { echo "objdump failed on $obj"; exit 1; }
for reg in zmm ymm; do
    echo "$dis" | grep -Eq "vmulps[[:space:]].*%$reg" || { echo "no vmulps on $reg in $obj"; exit 1; }
done
fused=$(echo "$dis" | grep -E '[[:space:]]v?fn?m(add|sub)[a-z0-9]*[[:space:]]')
if [ -n "$fused" ]; then
    echo "$(echo "$fused" | wc -l) fused multiply-adds in $obj; first:"
    echo "$fused" | head -10
    exit 1
fi
echo "no fused multiply-add in $obj"
