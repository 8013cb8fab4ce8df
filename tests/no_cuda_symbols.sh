#!/bin/sh
# Fails when a program of a build without CUDA still holds a symbol of the CUDA runtime, which would
# mean some part was compiled against the toolkit after all. Also fails on a program without symbols
# to read, so that a stripped binary cannot pass unseen.
status=0
for bin in "$@"; do
    syms=$(nm -C "$bin" 2>/dev/null) || { echo "nm failed on $bin"; exit 1; }
    [ -n "$syms" ] || { echo "no symbols to read in $bin"; exit 1; }
    cuda=$(echo "$syms" | grep -E '(^|[^A-Za-z0-9_])(cuda[A-Z]|__cuda)' | head -5)
    if [ -n "$cuda" ]; then
        echo "$bin holds CUDA symbols, first:"
        echo "$cuda"
        status=1
    else
        echo "no CUDA symbol in $bin"
    fi
done
exit $status
