#!/bin/sh
# usage: simd_no_fma.sh OBJDUMP SIMD_OBJECT [OBJECT...]
# Fails when one of the renderers' object files holds a fused multiply-add, listing them: on x86-64
# FMA3 and FMA4 (any width); on aarch64 fmadd, fmsub, fnmadd, fnmsub, NEON's fmla and fmls, and
# SVE's fmad, fmsb, fmla, fmls and their negated forms. Also fails when the SIMD object holds no
# multiply on the widest vectors of its architecture, which would mean it is not the multi-target
# object this check is meant for.
objdump="$1"
shift
simd="$1"
for obj in "$@"; do
    dis=$("$objdump" -d --no-show-raw-insn "$obj") || { echo "$objdump failed on $obj"; exit 1; }
    if "$objdump" -f "$obj" | grep -q 'architecture: aarch64'; then
        wide='fmul[[:space:]]+z[0-9]+\.s fmul[[:space:]]+v[0-9]+\.4s'
        fma='[[:space:]]fn?m(add|sub|la|ls|ad|sb)[[:space:]]'
    else
        wide='vmulps[[:space:]].*%zmm vmulps[[:space:]].*%ymm'
        fma='[[:space:]]v?fn?m(add|sub)[a-z0-9]*[[:space:]]'
    fi
    if [ "$obj" = "$simd" ]; then
        for mul in $wide; do
            echo "$dis" | grep -Eq "$mul" || { echo "no $mul in $obj"; exit 1; }
        done
    fi
    fused=$(echo "$dis" | grep -E "$fma")
    if [ -n "$fused" ]; then
        echo "$(echo "$fused" | wc -l) fused multiply-adds in $obj; first:"
        echo "$fused" | head -10
        exit 1
    fi
    echo "no fused multiply-add in $obj"
done
