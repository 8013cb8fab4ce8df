#!/bin/sh
# The default architecture list must be exactly what the build's own CUDA compiler offers from
# sm_75 up, as machine code, plus PTX for the newest: not a list from another nvcc, nor a fallback.
# Usage: cuda_architectures_test.sh NVCC CONFIGURED(comma-separated) OVERRIDDEN(ON|OFF)
nvcc=$1 configured=$2 overridden=$3
if [ "$overridden" = ON ]; then
    echo "architectures chosen by hand ($configured): nothing to check"
    exit 77
fi
real=$("$nvcc" --list-gpu-code | sed -n 's/^sm_\([0-9][0-9]*\)$/\1/p' | awk '$1 >= 75' | sort -n -u)
[ -n "$real" ] || { echo "$nvcc lists no sm_NN from 75 up"; exit 1; }
expected=$(printf '%s-real,' $real)$(echo "$real" | tail -n 1)-virtual
if [ "$configured" != "$expected" ]; then
    echo "configured:    $configured"
    echo "$nvcc offers: $expected"
    exit 1
fi
echo "$expected"
