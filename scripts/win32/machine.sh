#!/usr/bin/env bash
echo "emulated machine: not yet" >&2; exit 1
